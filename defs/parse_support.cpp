// What the definition-file parsers share.
#include "defs/parse_support.h"

#include <algorithm>
#include <string>

#include "defs/syntax_error.h"
#include "defs/tokenizer.h"
#include "model/timebase.h"
#include "runtime/input_files.h"
#include "runtime/msg.h"

int def_shown(int64_t n) { return static_cast<int>(std::min<int64_t>(n, def_shown_max)); }

// A log line of count dashes (type i).
static void def_dashes(const char* id, int count) {
    std::string line(static_cast<size_t>(count), '-');
    PRINT('i', id, "%s\n", line.c_str());
}

void def_banner(const char* top_id, int top_count, const char* id, const char* title,
                const char* bottom_id, int bottom_count) {
    char now[20];
    form_time(now);
    def_dashes(top_id, top_count);
    PRINT('i', id, "%s%s\n", title, now);
    def_dashes(bottom_id, bottom_count);
}

int def_parse_named(const char* kind, int (*parse)(FILE*), int missing) {
    FILE* input = u_openInputFile(kind);
    if (input == nullptr) return missing;
    int rc = parse(input);
    std::fclose(input);
    return rc;
}

int32_t def_word(char* end, const char* failed_id) {
    int32_t n = get_word(this_start, end);
    if (n < 0) PRINT('e', failed_id, "Parsing failed : %s\n", message);
    return n < 0 ? -1 : n;
}

int def_keyword(char* end, int (*lookup)(const char*, int32_t), const char* failed_id,
                const char* unknown_id, int32_t* length) {
    int32_t n = def_word(end, failed_id);
    if (n <= 0) return n;
    int code = lookup(parse_word.text, n);
    if (code == 0) {
        PRINT('e', unknown_id, "Unknown keyword (%.*s)\n", def_shown(n), parse_word.text);
        return -1;
    }
    *length = n;
    return code;
}

bool def_parens_balance(const char* id) {
    if (parens == 0) return true;
    PRINT('e', id, "Parentheses do not balance\n");
    return false;
}
