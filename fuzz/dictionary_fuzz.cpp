// The dictionary definition file: the input is the file's contents, read with a few
// dictionary parameters set as a command line sets them.
#include <cstdint>
#include <cstdlib>

#include "defs/dictionary.h"
#include "defs/dictionary_file.h"
#include "fuzz/fuzz_support.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"

namespace {

void free_parms() {
    for (dict_parms* p = dict_parms_anchor; p != nullptr;) {
        dict_parms* next = p->next;
        U_FREE(p);
        p = next;
    }
    dict_parms_anchor = nullptr;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::quiet_log();
    static const bool env =
        (setenv("ZOV_DICT_SET", "/opt/zov", 1), unsetenv("ZOV_DICT_UNSET"), true);
    (void)env;
    dict_free_all();
    free_parms();
    add_dict_parm(const_cast<char*>("dbuser"), const_cast<char*>("dbo"));
    add_dict_parm(const_cast<char*>("quoted"), const_cast<char*>("'xyz'"));
    add_dict_parm(const_cast<char*>("open"), const_cast<char*>("'xyz"));
    add_dict_parm(const_cast<char*>("envref"), const_cast<char*>("%ZOV_DICT_UNSET"));
    add_dict_parm(const_cast<char*>("setref"), const_cast<char*>("%ZOV_DICT_SET"));
    add_dict_parm(const_cast<char*>("num"), const_cast<char*>("'42'"));
    std::string keep;
    FILE* f = fuzzing::stream(fuzzing::text(data, size), &keep);
    if (f != nullptr) {
        parse_dict_file(f);
        std::fclose(f);
    }
    dict_free_all();
    free_parms();
    fuzzing::traces_off();
    return 0;
}
