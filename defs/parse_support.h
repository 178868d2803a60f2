// What the definition-file parsers share: opening a file by its kind, the dashed heading
// and closing lines of the log, the statement loop, the keyword that starts a statement and
// the value words that follow it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "defs/statement_reader.h"
#include "defs/tokenizer.h"

// Longest word shown in a message ("%.*s").
constexpr int def_shown_max = 255;
// n cut to def_shown_max.
int def_shown(int64_t n);

// The heading or closing block of a parse: a line of top_count dashes (top_id), then the
// title followed by the current time (form_time) on a line of its own (type i, id), then a
// line of bottom_count dashes (bottom_id).
void def_banner(const char* top_id, int top_count, const char* id, const char* title,
                const char* bottom_id, int bottom_count);

// Opens the definition file of kind (u_openInputFile), reads it with parse and closes it.
// Returns parse's result, or missing when the file cannot be opened.
int def_parse_named(const char* kind, int (*parse)(FILE*), int missing);

// The next word from this_start up to end (get_word): its length, 0 when none is left, or
// -1 after "Parsing failed : %s" (type e, failed_id).
int32_t def_word(char* end, const char* failed_id);

// The keyword that starts a statement, looked up with lookup. Returns its code (> 0) with
// *length set to the word's length (this_start is left at the word's start); 0 for an
// empty statement; -1 after "Parsing failed : %s" (failed_id) or "Unknown keyword (%.*s)"
// (unknown_id), both type e.
int def_keyword(char* end, int (*lookup)(const char*, int32_t), const char* failed_id,
                const char* unknown_id, int32_t* length);

// True when the parentheses of the statement balance; false after "Parentheses do not
// balance" (type e, id).
bool def_parens_balance(const char* id);

// Reads the statements of input one after the other (the reader's trace and too-long ids,
// and an optional echo that replaces the plain line trace). Each statement goes to
// statement(end); a statement too long for the buffer, already reported by the reader, goes
// to too_long(). Either returns false to end the reading, which also ends at end of file.
template <typename Statement, typename TooLong>
void def_read_statements(FILE* input, const char* trace_id, const char* too_long_id,
                         Statement&& statement, TooLong&& too_long,
                         void (*echo)(const char*, size_t, const char*) = nullptr) {
    statement_reader r;
    statement_reader_init(&r, input, trace_id, too_long_id);
    if (echo != nullptr) r.echo = echo;
    for (;;) {
        char* end = nullptr;
        int rc = read_statement(&r, &end);
        if (rc == 0) break;
        if (rc < 0 ? !too_long() : !statement(end)) break;
    }
    statement_reader_close(&r);
}

// The words after a value keyword, from this_start up to end. Each goes to
// rule(word, length, &advance), advance being how far the scan then moves past the word's
// start (the length unless the rule changes it), until none is left or rule returns
// nonzero. Returns 0 when every word was taken and the parentheses balance; 1 after a
// tokenizer failure ("Parsing failed : %s", failed_id) or a failed rule; 2 after
// "Parentheses do not balance" (parens_id), both type e.
template <typename Rule>
int def_value_words(char* end, const char* failed_id, const char* parens_id, Rule&& rule) {
    for (;;) {
        int32_t n = def_word(end, failed_id);
        if (n < 0) return 1;
        if (n == 0) break;
        char* word = parse_word.text;
        int32_t advance = n;
        if (rule(static_cast<const char*>(word), n, &advance) != 0) return 1;
        this_start = word + advance;
    }
    return def_parens_balance(parens_id) ? 0 : 2;
}
