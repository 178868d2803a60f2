// Text helpers shared by every program: case, comparisons and prefix tests, a character
// translator, copies and pieces, the strip family, blank-padded fixed-width fields, the
// keyword-abbreviation test, the argument splitter and the word spacer of command lines.
//
// Classification (letters, digits, white space, ...) is that of the C locale, always
// applied to the byte as an unsigned char. Where a result is a difference of characters,
// the characters count as signed 8-bit values. Allocated results come from u_malloc and
// are freed with u_free; they are never null for want of memory.
#pragma once

// ---- Case and comparison ----------------------------------------------------------

// Upper-/lower-cases the text in place; returns it (null stays null).
char* u_strupper(char* text);
char* u_strlower(char* text);

// Case-blind compare: lower(a[i]) - lower(b[i]) at the first difference or end, 0 when
// both end together. Any null: 1, both null: 0.
int u_stricmp(const char* a, const char* b);
// As u_stricmp, but 0 once n equal characters were seen.
int u_strnicmp(const char* a, const char* b, int n);
// Prefix test, case-sensitive: 0 when b is a prefix of a (or equal), else a[i] - b[i].
// a given, b null: 1; a null: 1 when b is given, else 0.
int u_strxcmp(const char* a, const char* b);
// Prefix test without regard to case (lower-cased difference); any null 1, both null 0.
int u_strxicmp(const char* a, const char* b);

// Translates the text in place by a from-set and a to-set (both empty: upper-cases).
// From-set entries: '#' digit, '.' not letter/digit/punctuation/blank, '<' lower-case,
// '>' upper-case, '@' letter, '^' white space, '=' any, else the character itself.
// To-set actions at the same index: '<' lower, '>' upper, '=' keep, '-' or missing
// delete, else replace. Each set is used up to 49 characters. Returns the text.
char* u_translate(char* text, const char* to_set, const char* from_set);

// ---- Copies, pieces and searches --------------------------------------------------

// Allocated copy; null for null.
char* alloc_str(const char* text);
// Allocated copy of min(length, strlen(text) - start) characters from start; null when
// text is null, start or length is negative, or nothing remains after start.
char* u_substring(const char* text, int start, int length);
// Allocated reversed copy; null for null; "" gives "".
char* u_reverse(const char* text);
// Allocated text of n blanks; null when n is negative.
char* space(int n);
// First (u_str_index) or last (u_strr_index) character of text that occurs in set, or
// null. Null text or set gives null.
const char* u_str_index(const char* text, const char* set);
const char* u_strr_index(const char* text, const char* set);
inline char* u_str_index(char* text, const char* set) {
    return const_cast<char*>(u_str_index(static_cast<const char*>(text), set));
}
inline char* u_strr_index(char* text, const char* set) {
    return const_cast<char*>(u_strr_index(static_cast<const char*>(text), set));
}
// Overwrites every character of the text with c; returns the text.
char* u_strset(char* text, int c);
// Decimal text of n in a static buffer that the next call overwrites; null for n <= 0.
char* u_itoa(int n);
// Signed, truncating remainder a - b * (a / b). b must not be 0.
int getremainder(int a, int b);
// Characters before the end of the text or max, whichever comes first; 0 for null.
// Reaching max is traced ("usl0305") at trace level 3.
int u_strlen(const char* text, int max);
// Writes the message ("ust0000", type 'e'), with "... Aborting execution!" when code >= 1,
// and ends the process with status 1.
[[noreturn]] void call_exit(const char* message, int code);

// ---- Strip family (in place) ------------------------------------------------------

// Cuts trailing white space; returns the text.
char* u_strip(char* text);
// Removes characters of set (null or empty: the blank) from the ends chosen by mode,
// case-blind: 'T' (or 0) trailing, 'L' leading, 'B' both, other: nothing. Leading ones
// are skipped by returning a later pointer; trailing ones are cut with a terminator. At
// most 19 characters of the set are used.
char* u_stripx(char* text, char mode, const char* set);
// As u_stripx, but moves the rest to the start so the caller's pointer stays valid;
// returns the text.
char* u_stripc(char* text, char mode, const char* set);

// ---- Fixed-width fields -----------------------------------------------------------

// Makes a blank-padded field of n characters (no terminator) from text (cut at n; null or
// empty: n blanks). field == text only pads. Returns the field.
char* u_str2chr(char* field, const char* text, int n);
// Terminated text from a blank-padded field of width n. Copy form (target != field): up
// to n characters, stopping at a terminator, trailing blanks cut. In place (target ==
// field): trailing blanks at positions n-1 down to 1 cut, the first character kept.
// target holds n + 1 bytes. Returns target.
char* u_chr2str(char* target, const char* field, int n);
// Right-justifies a field of width n in place (blanks and terminators count as empty).
// Returns 0 when nothing moved, else the index of the last blank filled in front.
int just_right(char* field, int n);

// ---- Tokens and words -------------------------------------------------------------

// Keyword-abbreviation test; 0 when word matches. max < 1 becomes the keyword's length,
// min 0 becomes max; max > 31 gives 300; at most max characters of the word are taken
// (length L); min < 0 becomes L; L < min gives 301; otherwise the lower-cased word is
// compared with the first L characters of keyword (0 or the difference).
int u_chktoken(const char* word, const char* keyword, int max, int min);
// Splits line in place into array (which must hold one entry per word plus a closing
// null). spec (null: blank, newline, tab, '"', '\''): opening quote characters switch
// their pair on ("" '' () {} [] <>), others separate words. White space before a word is
// always skipped. Returns the number of words; a null line returns 0 and leaves array.
int u_tokenset(char** array, char* line, const char* spec);
// Splits text with strtok (modifies it, shared state); copies up to max tokens into the
// non-null entries of buffers; entries from the count to max that are not null are set
// to null afterwards. Returns the count.
int u_tokenize(char** buffers, char* text, const char* delimiters, int max);
// Rebuilds a word list (words separated by blanks and tabs; a word opening with quote,
// when quote != 0, runs to and includes the next quote) into out: each word followed by
// pads copies of pad, none after the last. Never more than max characters; out holds
// max + 1 bytes. Returns out.
char* u_spaces(char* out, int max, const char* in, int pads, char quote, char pad);
