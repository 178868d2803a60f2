// The process definition file: the input is the file's contents.
#include <cstdint>
#include <cstring>

#include "defs/distrib.h"
#include "defs/process_file.h"
#include "fuzz/fuzz_support.h"
#include "model/engine_globals.h"

namespace {

void reset() {
    distrib_free_all();
    have_evaluator = 0;
    sleep_time = 10;
    std::memset(&machine_id, 0, sizeof(machine_id));
    fuzzing::traces_off();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::quiet_log();
    reset();
    std::string keep;
    FILE* f = fuzzing::stream(fuzzing::text(data, size), &keep);
    if (f == nullptr) return 0;
    parse_distributor_file(f);
    std::fclose(f);
    reset();
    return 0;
}
