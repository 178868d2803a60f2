// The reader of stored password forms: the input up to its first NUL is the stored form;
// the text after it, when there is one, is "logonid NUL serverid", the key of the newer
// scheme.
#include <cstdint>
#include <string>

#include "fuzz/fuzz_support.h"
#include "runtime/env.h"
#include "runtime/password.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::quiet_log();
    std::string in = fuzzing::text(data, size);
    std::string stored = in.substr(0, in.find('\0'));
    std::string logon = "sa";
    std::string server = "SYB1";
    if (stored.size() < in.size()) {
        std::string key = in.substr(stored.size() + 1);
        size_t nul = key.find('\0');
        logon = key.substr(0, nul);
        server = nul == std::string::npos ? "" : key.substr(nul + 1);
        server = server.substr(0, server.find('\0'));
    }
    char* saved_logon = env_vars.logonid;
    char* saved_server = env_vars.serverid;
    env_vars.logonid = logon.data();
    env_vars.serverid = server.data();
    fok(stored.c_str());
    env_vars.logonid = saved_logon;
    env_vars.serverid = saved_server;
    return 0;
}
