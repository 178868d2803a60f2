// Small aids shared by the clause parsers of a cursor block: reading the next word of a
// clause text, the value of a number word, bounded copies into fixed fields and appending
// to a record chain.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The end of a clause text: its terminating zero (the statement framing leaves four
// blanks before it, so a scan may look one character ahead).
char* clause_end(char* text);

// Reads the next word of [*pos, end) with get_word and moves *pos past it. Returns the
// word's length; 0 when no word is left, and also after a tokenizer error (the error is
// left in message/failed): a clause then reports the word it is missing.
int32_t clause_next_word(char** pos, char* end);

// The word just read, as a string (parse_word.text, parse_word.len).
std::string clause_word_text();

// True when the word of length len at text equals lower or upper exactly.
bool word_is(const char* text, int32_t len, const char* lower, const char* upper);

// The value of a number word as the tokenizer cut it: sign, digits, decimal separator
// (a comma when european is set) and exponent, blanks before the exponent allowed; any
// other character ends it ("12abc" gives 12). 0.0 when nothing numeric leads.
double word_number(const char* text, int32_t len);
// The value of a number word cut towards zero to an integer, bounded to the int range.
int32_t word_integer(const char* text, int32_t len);

// Copies n characters into a zero-filled fixed field of width bytes. The caller has
// checked n < width.
void copy_field(char* field, size_t width, const char* text, size_t n);

// Appends rec at the end of the chain at *head (linked through next).
template <typename T>
void chain_append(T** head, T* rec) {
    while (*head != nullptr) head = &(*head)->next;
    *head = rec;
}

// A zero-filled record from u_malloc; never null.
void* clause_alloc(size_t size);
template <typename T>
T* clause_new() {
    return static_cast<T*>(clause_alloc(sizeof(T)));
}
