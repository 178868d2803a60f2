// The statement reader and the tokenizer: the input is a definition file; every statement
// the reader gives is cut into words by get_word, then read again by simple_get_word (the
// fetch-exit value reader over the same buffer). The first byte chooses the decimal comma.
#include <cstdint>
#include <cstring>
#include <string>

#include "defs/statement_reader.h"
#include "defs/tokenizer.h"
#include "fuzz/fuzz_support.h"

namespace {

void words(char* end) {
    base_add = buffer;
    this_start = buffer;
    parens = 0;
    failed = 0;
    // Each word moves this_start on by at least one character, so the loop ends; the guard
    // only bounds a reader fault.
    for (int guard = 0; guard < sizeof_buffer; ++guard) {
        int32_t n = get_word(this_start, end);
        if (n <= 0) break;
        test_word(parse_word.text, parse_word.len);
        this_start += n;
    }
    failed = 0;
    char* at = buffer;
    for (int guard = 0; guard < sizeof_buffer && at < end; ++guard) {
        int32_t n = simple_get_word(at, end);
        if (n <= 0) break;
        at = parse_word.text + n;
    }
    w_o_parens(buffer);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = (fuzzing::quiet_log(), setup_parse(), true);
    (void)ready;
    if (size < 1) return 0;
    european = data[0] & 1;
    std::string keep;
    FILE* f = fuzzing::stream(fuzzing::text(data + 1, size - 1), &keep);
    if (f == nullptr) return 0;
    statement_reader r;
    statement_reader_init(&r, f, "pcc0305", "pcc0306");
    for (;;) {
        char* end = nullptr;
        int rc = read_statement(&r, &end);
        if (rc == 0) break;
        if (rc > 0) words(end);
    }
    statement_reader_close(&r);
    std::fclose(f);
    european = 0;
    failed = 0;
    parens = 0;
    return 0;
}
