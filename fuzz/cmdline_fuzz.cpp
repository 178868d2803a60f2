// The general command-line reader with argument files: the input up to its first NUL is
// the command line (one word a line), the rest, when there is a NUL, the argument file
// "args" of the scratch directory, spliced in by an "@args" word at the end. Words may
// name "args" again (nesting up to the limit). A reader that ends the process (a missing
// file, too many files) ends only the input. Inputs that name anything outside the
// scratch directory or ask for the version listing (which reads program files) are
// skipped: they would read whatever file they name.
#include <strings.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "runtime/cmdline.h"
#include "runtime/env.h"

namespace {

bool reads_outside(const std::string& in) {
    if (in.find_first_of("/$%~") != std::string::npos) return true;
    for (size_t at = in.find('-'); at != std::string::npos; at = in.find('-', at + 1))
        if (strncasecmp(in.c_str() + at + 1, "ver", 3) == 0) return true;
    return false;
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t at = 0;
    while (at <= text.size()) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(at, nl - at));
        at = nl + 1;
    }
    return out;
}

void reset_options() {
    for (char** f :
         {&env_vars.logonid, &env_vars.password, &env_vars.ctl_home, &env_vars.serverid,
          &env_vars.coll_out, &env_vars.errorlog, &env_vars.db_type, &env_vars.localtmpdir,
          &env_vars.tmpdir, &env_vars.db_home, &env_vars.db_version, &options.dbinitfile})
        u_env_set_field(f, nullptr);
    options = OPTIONS{};
    fuzzing::traces_off();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const int32_t maxread = env_vars.maxreadsz;
    static const bool ready =
        (fuzzing::quiet_log(), fuzzing::exit_throws(), chdir(fuzzing::scratch_dir().c_str()) == 0);
    if (!ready) return 0;
    std::string in = fuzzing::text(data, size);
    if (reads_outside(in)) return 0;
    size_t nul = in.find('\0');
    std::vector<std::string> words = lines(in.substr(0, nul));
    words.insert(words.begin(), "zovprogram");
    if (nul != std::string::npos) {
        fuzzing::write_file("args", in.substr(nul + 1));
        words.push_back("@args");
    } else {
        unlink((fuzzing::scratch_dir() + "/args").c_str());
    }
    std::vector<char*> argv;
    for (std::string& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    try {
        parseHVMCmdline(static_cast<int>(words.size()), argv.data());
    } catch (const fuzzing::exit_called&) {
    }
    reset_options();
    env_vars.maxreadsz = maxread;
    return 0;
}
