// What the definition-file parsers share: opening a file by its kind, the dashed heading
// and closing lines of the log, the statement loop, the keyword that starts a statement and
// the value words that follow it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "defs/statement_reader.h"
#include "defs/tokenizer.h"
#include "runtime/msg.h"

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

// The reading state of a file of blocks (dictionary entries, evaluations): a naming
// keyword opens a block for the name after it, the next naming keyword or END closes it,
// and the statements between fill the open block.
struct def_block_parse {
    bool opened = false;  // a block was opened at least once
    bool failed = false;  // the result is 1
    bool stop = false;    // the reading ends
    char* end = nullptr;  // end of the current statement
};

// The keywords of a file of blocks and the messages about them.
struct def_block_keys {
    int (*lookup)(const char*, int32_t);  // keyword codes, as for def_keyword
    const char* failed_id;                // def_keyword's ids
    const char* unknown_id;
    int opener;                 // the naming keyword
    int closer;                 // END
    const char* opener_word;    // "First word must be '%s'" before any block is open,
    const char* first_id;       // with first_id, or first_id_four after a four-letter
    const char* first_id_four;  // keyword
};

// One statement of a file of blocks. Its keyword must be the opener while no block was
// opened. The opener or the closer closes the open block (close()) and, unless that ended
// the reading, opens the next one (open()); any other keyword goes to value(code), with
// this_start just after the keyword.
template <typename Close, typename Open, typename Value>
void def_block_statement(def_block_parse& p, const def_block_keys& keys, Close&& close, Open&& open,
                         Value&& value) {
    int32_t n = 0;
    int code = def_keyword(p.end, keys.lookup, keys.failed_id, keys.unknown_id, &n);
    if (code == 0) return;
    if (code < 0) {
        p.failed = p.stop = true;
        return;
    }
    if (!p.opened && code != keys.opener) {
        PRINT('e', n != 4 ? keys.first_id : keys.first_id_four, "First word must be '%s'\n",
              keys.opener_word);
        p.failed = p.stop = true;
        return;
    }
    this_start = parse_word.text + n;
    if (code == keys.opener || code == keys.closer) {
        close();
        if (!p.stop) open();
        return;
    }
    value(code);
}

// The name after the opener: its length (the word in parse_word), or 0 when there is no
// block to open: no word left ends the reading; a tokenizer failure (failed_id) or a name
// longer than max (too_long() reports it) also fails it.
template <typename TooLong>
int32_t def_block_name(def_block_parse& p, const char* failed_id, int32_t max, TooLong&& too_long) {
    int32_t n = def_word(p.end, failed_id);
    if (n <= 0) {
        p.failed = p.failed || n < 0;
        p.stop = true;
        return 0;
    }
    if (n > max) {
        too_long(n);
        p.failed = p.stop = true;
        return 0;
    }
    p.opened = true;
    return n;
}

// Reads the statements of a file of blocks into statement() (def_read_statements' ids); a
// statement too long for the buffer fails the reading.
template <typename Statement>
void def_read_blocks(FILE* input, const char* trace_id, const char* too_long_id, def_block_parse& p,
                     Statement&& statement) {
    def_read_statements(
        input, trace_id, too_long_id,
        [&](char* end) {
            p.end = end;
            statement();
            return !p.stop;
        },
        [&] {
            p.failed = p.stop = true;
            return false;
        });
}
