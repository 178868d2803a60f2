// The collector's option reader: the input is its command line, one word a line. The
// words it leaves to the general pass are only collected. An option without its value
// ends the process; here it ends the input.
#include <cstdint>
#include <string>
#include <vector>

#include "collector/startup/startup.h"
#include "fuzz/fuzz_support.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/env.h"

namespace {

void reset() {
    for (char** f :
         {&env_vars.serverid, &env_vars.db_type, &env_vars.tmpdir, &env_vars.logonid,
          &env_vars.coll_home, &env_vars.ctl_home, &env_vars.errorlog, &env_vars.password})
        u_env_set_field(f, nullptr);
    for (dict_parms* p = dict_parms_anchor; p != nullptr;) {
        dict_parms* next = p->next;
        U_FREE(p->name);
        U_FREE(p->initial);
        U_FREE(p);
        p = next;
    }
    dict_parms_anchor = nullptr;
    fuzzing::traces_off();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (fuzzing::quiet_log(), fuzzing::exit_throws(), true);
    (void)ready;
    std::string in = fuzzing::text(data, size);
    std::vector<std::string> words{"zemcoll"};
    size_t at = 0;
    while (at <= in.size()) {
        size_t nl = in.find('\n', at);
        if (nl == std::string::npos) nl = in.size();
        words.push_back(in.substr(at, nl - at));
        at = nl + 1;
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    std::vector<char*> general;
    try {
        parse_argv(static_cast<int>(words.size()), argv.data(), &general);
    } catch (const fuzzing::exit_called&) {
    }
    reset();
    return 0;
}
