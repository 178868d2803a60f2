// The configuration record of every program.
//
// One global instance, `env_vars`, filled from the command line first and then from the
// environment (get_envs). A null text field means "not set yet".
#pragma once

#include <cstddef>
#include <cstdint>

struct ENV_VARS {
    char* coll_home;
    char* ctl_home;
    char* bin_home;
    char* coll_out;
    char* hostname;
    char* hostlogonid;
    char* serverid;
    char* logonid;
    char* password;  // stored (possibly scrambled) form; never logged
    char* errorlog;
    char* db_type;
    char* cell_name;
    char* tmpdir;
    char* localtmpdir;
    int32_t maxreadsz;
    char* process_ctl;
    char* useshm;
    int16_t nosignals;
    char* nosec;
    char* config_dir;
    char* db_home;
    char* db_version;
};

extern ENV_VARS env_vars;

// Reads the command line (parseHVMCmdline) when argc is 1 or more, then fills env_vars from
// the environment (get_envs). Returns the number of option words (0 when argc < 1).
int32_t HVM_getenv(int argc, char** argv);

// Fills every empty field of the record from the environment, with defaults; a field
// that is already set (for instance from the command line) is left alone. The first call
// of the process also applies COLL_DEBUG to the trace levels (replacing the command
// line's) and fixes the home and current directories. Every field it fills is its own
// u_malloc copy. Always returns 1.
int get_envs(ENV_VARS* record);

// The value of an environment variable as a new u_malloc copy the caller may free, or
// null. A set but empty variable counts as unset; a non-empty `deflt` is used when there
// is no value. mode: 1 report a missing variable, 0 normal, -1 also put the default into
// the environment, -2 quiet (no trace). Password values are never traced.
char* u_getenv(const char* name, int32_t mode, const char* deflt);

// Sets name=value (value may be null: "name" alone) in the environment. The entry stays
// allocated for the life of the process. Returns a pointer just behind the "=" inside the
// environment entry (the end of the name when value is null), or null on failure.
char* u_putenv(const char* name, const char* value);

// The value of one of ten configuration variables (COLL_LOGON, COLL_PASSWORD,
// COLL_CTL_HOME, COLL_HOME, COLL_SERVERID, COLL_ERRORLOG, COLL_VERSION, COLL_DBVERSION,
// COLL_DBHOME, PXULV_CELL_NAME; name in any case) as the env_vars field itself (not a
// copy), filling an empty field from the environment first; the server name and the
// database home fall back to the database type's own variables (DSQUERY, SYBASE, ...).
// Null for an unknown name or when no value is found.
char* u_retrieveEnvVar(const char* name);

// index 0: the standard three-letter product code of env_vars.db_type (never null; "und"
// when db_type is empty, "unk" when unknown); 1 to 3: an alias code or null; otherwise
// null. The codes are computed on first use and kept for the life of the process.
const char* u_db_type(int index);
// Whether the len bytes at text are one of the database type codes (zem, qel, ...).
bool u_is_db_type_code(const char* text, size_t len);

// Stores a u_malloc copy of value (null: no value) into a text field of env_vars (or of
// another configuration record). The field's previous value is freed when it was a copy
// made here or by get_envs; any other value is left to its owner.
void u_env_set_field(char** field, const char* value);

// True when an environment variable of this name holds a password (its value is shown
// as "***" in every message).
bool u_env_is_password(const char* name);
