// The data-set file: the input is the contents of F.ULV, read for a cursor's
// "INSERT !F" in the process's scratch directory.
#include <unistd.h>

#include <cstdint>
#include <vector>

#include "defs/dataset_file.h"
#include "defs/tokenizer.h"
#include "fuzz/fuzz_support.h"
#include "testing/clause_fixture.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready =
        (fuzzing::quiet_log(), setup_parse(), chdir(fuzzing::scratch_dir().c_str()) == 0);
    if (!ready) return 0;
    fuzzing::write_file("F.ULV", fuzzing::text(data, size));
    test_cursor cur;
    std::vector<char> out(sizeof_buffer, '\0');
    parse_ulv("!F", out.data(), out.size(), cur.c);
    fuzzing::traces_off();
    return 0;
}
