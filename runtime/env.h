// The configuration record of every program.
//
// One global instance, `env_vars`, filled from the command line first and then from the
// environment (get_envs). A null text field means "not set yet".
#pragma once

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
