// The date normaliser and the server log time-stamp reader: the input is one date text,
// given to both (the normaliser once with its length, once as a C string).
#include <cstdint>
#include <ctime>
#include <string>

#include "fuzz/fuzz_support.h"
#include "runtime/dates.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::quiet_log();
    std::string in = fuzzing::text(data, size);
    char out[17] = {};
    if (!in.empty()) us_normalizeDateTime(in.data(), static_cast<int>(in.size()), out);
    us_normalizeDateTime(in.c_str(), 0, out);
    str2timet_forget_form();
    struct tm rec {};
    str2timet(in.c_str(), &rec);
    str2timet(in.c_str(), nullptr);  // again, under the form the first one remembered
    str2timet_forget_form();
    return 0;
}
