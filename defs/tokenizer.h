// The tokenizer of the definition language.
//
// All state is global and single-threaded (parsing runs once, at start-up): the statement
// buffer, the token record parse_word, the scan pointer and the parenthesis depth. The
// tokenizer never writes into the text it scans.
#pragma once

#include <cstdint>

#include "defs/syntax_error.h"

inline constexpr int sizeof_buffer = 16000;

// The text of the statement being parsed (the statement reader fills it).
extern char buffer[sizeof_buffer];
// Origin from which word positions are counted; buffer by default.
extern char* base_add;
// Where the caller continues scanning: get_word sets it to the start of the word it found;
// the caller moves it past the word.
extern char* this_start;
// Length of the last word found (the result of get_word).
extern int32_t this_len;
// Open parentheses of the current statement.
extern int32_t parens;
// 1 makes the comma the decimal separator of numbers.
extern int32_t european;
extern char local_hv;  // ':' marks a host variable
extern char not_sign;  // '~' negation sign
extern int32_t term_set;
extern char terminators[256];
extern char math_ops[256];
extern char logical_ops[256];
// Result area of w_o_parens: up to 3099 characters and a zero.
inline constexpr int sizeof_text_in_parens = 3100;
extern char text_in_parens[sizeof_text_in_parens];

// flags bits of parse_word.
enum : uint16_t {
    PW_HOSTVAR = 0x0001,    // began with ':'
    PW_PAREN = 0x0002,      // a single "(" or ")"
    PW_LOGICAL = 0x0004,    // comparison or negation operator
    PW_COMMA = 0x0008,      // a single "," (get_word); quoted value (simple_get_word)
    PW_MATH = 0x0010,       // a single "+" "-" "*" "/"
    PW_DOTSTAR = 0x0040,    // "*" right after "." in a host-variable word
    PW_LITERAL = 0x0080,    // quoted part, or a number
    PW_CONCAT = 0x0100,     // "||"
    PW_QUALIFIED = 0x0200,  // contains "."
};
// num_flags bits of parse_word.
enum : uint16_t {
    PN_DECIMAL = 0x0001,   // has a decimal separator
    PN_EXPONENT = 0x0002,  // has an exponent part
    PN_NUMBER = 0x0004,    // is a number
    PN_APOS = 0x0008,      // contains a part quoted with '
    PN_DQUOTE = 0x0010,    // contains a part quoted with "
};

struct parse_word_rec {
    char* text;          // first character of the word (after ':' for a host variable)
    int16_t len;         // length in characters
    int16_t position;    // offset from base_add
    uint16_t flags;      // PW_*
    int16_t exponent;    // exponent of a number written with E; 0 if none
    uint16_t num_flags;  // PN_*
};
extern parse_word_rec parse_word;

// Fills the three character-class tables and sets term_set; returns 0.
int setup_parse();

// Finds the next word in [start, end) and fills parse_word. Returns its length, 0 when no
// word is left, -1 after a syntax error (errmsg, which sets failed). Sets this_start to the
// start of the word (for a host variable: of its name, after the ':' and any blanks) and
// this_len to the result; the caller advances this_start by the result.
int32_t get_word(char* start, char* end);

// The next value of a fetch-exit output line (to a zero or end): sets text and flags of
// parse_word; returns its length or 0. A value quoted with ', " or a tab has PW_COMMA set
// and includes both quote characters.
int32_t simple_get_word(char* start, char* end);

// The keywords of the cursor file.
struct keyword_entry {
    const char* word;
    int16_t code;
};
inline constexpr int num_keywords = 58;
extern const keyword_entry keyword_table[num_keywords];

// Code of the cursor-file keyword of exactly length characters (any case); 0 if unknown.
int16_t test_word(const char* word, int32_t length);

// Copies the text between the first "(" and the next ")" into text_in_parens with a zero
// and returns its length; 0 with "cat1925" (no "(") or "cat1930" (no ")") on failure.
int w_o_parens(const char* text);
