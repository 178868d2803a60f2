// The child side of the channel and the database access programs' request reader: the
// input is what the parent wrote on the child's standard input; the request loop reads and
// answers it to its end with operations that do nothing and succeed. The answers go to
// /dev/null. Option records are read by the general command-line reader, so inputs that
// would make it read a file (argument files, the version listing) are skipped: the
// command-line harness covers that reader.
#include <fcntl.h>
#include <strings.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "dbaccess/common/pcc_ops.h"
#include "fuzz/fuzz_support.h"
#include "model/db_specifics.h"
#include "runtime/cmdline.h"
#include "runtime/env.h"
#include "runtime/pcc.h"

db_specifics database_info;

namespace {

int connect(const char*, const char*, const char*) {
    database_info.connected = 1;
    database_info.status = up;
    return 0;
}
int run(const char*, const char*, int) { return 0; }
int commit(int release) {
    if (release) database_info.connected = 0;
    return 0;
}

bool reads_files(const std::string& in) {
    if (in.find('@') != std::string::npos) return true;
    for (size_t at = in.find('-'); at != std::string::npos; at = in.find('-', at + 1))
        if (strncasecmp(in.c_str() + at + 1, "ver", 3) == 0 ||
            strncasecmp(in.c_str() + at + 1, "filein", 6) == 0)
            return true;
    return false;
}

void reset() {
    for (char** f :
         {&env_vars.logonid, &env_vars.password, &env_vars.ctl_home, &env_vars.serverid,
          &env_vars.coll_out, &env_vars.errorlog, &env_vars.db_type, &env_vars.localtmpdir,
          &env_vars.tmpdir, &env_vars.db_home, &env_vars.db_version, &options.dbinitfile})
        u_env_set_field(f, nullptr);
    options = OPTIONS{};
    database_info = db_specifics{};
    max_data_row = -1;
    data_file[0] = '\0';
    pcc_db_error = 0;
    fuzzing::traces_off();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int32_t maxread = env_vars.maxreadsz;
    static const bool ready = [] {
        fuzzing::quiet_log();
        fuzzing::exit_throws();
        if (chdir(fuzzing::scratch_dir().c_str()) != 0) return false;
        pcc_install_ops(pcc_ops{connect, run, run, commit});
        unsetenv("COLL_SQLIN_TIMEOUT");
        int null_fd = open("/dev/null", O_WRONLY);
        if (null_fd >= 0) dup2(null_fd, 1);  // the answers
        return true;
    }();
    if (!ready) return 0;
    std::string in = fuzzing::text(data, size);
    if (reads_files(in)) return 0;
    int fd = memfd_create("pcc_child", 0);
    if (fd < 0) return 0;
    if (write(fd, data, size) != static_cast<ssize_t>(size) || lseek(fd, 0, SEEK_SET) != 0 ||
        dup2(fd, 0) != 0) {
        close(fd);
        return 0;
    }
    close(fd);
    pcc_receive_collector_restart();
    try {
        pcc_request();
    } catch (const fuzzing::exit_called&) {
    }
    pcc_receive_collector_restart();
    // A trace switch record makes the loop open its own log (sql.out in the scratch
    // directory); the next input starts quiet again.
    static FILE* const quiet = stder;
    if (stder != quiet) {
        if (stder != nullptr) std::fclose(stder);
        stder = quiet;
    }
    reset();
    env_vars.maxreadsz = maxread;
    return 0;
}
