// The search for definition files.
#include "runtime/input_files.h"

#include <cstdio>
#include <string>

#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

bool set(const char* field) { return field && *field; }

}  // namespace

FILE* u_openInputFile_1(const char* path) {
    FILE* f = std::fopen(path, "re");
    if (f) {
        PRINT('i', "uoi0025", "File %s opened\n", path);
    } else if (trace_all) {
        PRINT('t', "uoi0030", "Could not open %s\n", path);
    }
    return f;
}

FILE* u_openInputFile(const char* name) {
    for (int k = 0; k < 4; ++k) {
        const char* code = u_db_type(k);
        if (!code) return nullptr;
        std::string file = std::string(code) + (name ? name : "") + ".ctl";
        std::string home = set(env_vars.coll_home) ? std::string(env_vars.coll_home) + "/" : "";
        std::string server = set(env_vars.serverid) ? std::string(env_vars.serverid) : "";
        std::string ctl = set(env_vars.ctl_home) ? std::string(env_vars.ctl_home) + "/" : "";
        const std::string paths[4] = {
            home + (server.empty() ? "" : server + "/") + file,
            home + (server.empty() ? "" : server + "_") + file,
            home + file,
            ctl + file,
        };
        for (const std::string& p : paths)
            if (FILE* f = u_openInputFile_1(p.c_str())) return f;
        PRINT('e', "uoi0055", "Could not find a %s file\n", file.c_str());
    }
    return nullptr;
}
