// The cursor definition file with its clauses and versions: the input is the file's
// contents. The collector's own release of the cursors (with every version and clause
// record) empties the list after each input.
#include <cstdint>

#include "collector/startup/cleanup.h"
#include "collector/startup/engine_hooks.h"
#include "defs/cursor_file.h"
#include "fuzz/fuzz_support.h"
#include "model/engine_globals.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (fuzzing::quiet_log(), install_engine_hooks(), true);
    (void)ready;
    free_all_cursors();
    std::string keep;
    FILE* f = fuzzing::stream(fuzzing::text(data, size), &keep);
    if (f != nullptr) {
        parse_curs_file(f);
        std::fclose(f);
    }
    free_all_cursors();
    fuzzing::traces_off();
    return 0;
}
