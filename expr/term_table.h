// The term table: the terms (constants, names, column references) of lexed expressions.
//
// A term table is a chain of TERM_TABLE records linked through `next`. It belongs to a client
// (an `if` condition, the internal select, the expression store): the client installs its
// anchor with open_lexer before lexing or evaluating and takes it back with close_lexer. Only
// one table is active at a time (`term_tb_anchor`). Equal terms share one record:
//  - names (term type 4 or 5) without regard to case;
//  - numbers (term type 2) of equal text and equal data type ("5", "5.0" and "05" differ);
//  - strings (term type 1) only when exactly equal (comparisons on them honour case);
//  - column references (term type 3) of equal cursor and column names, without regard to case.
// A new table's chain is recorded in the memory registry through an owner cell that follows
// the table's first term. All state is global; single-threaded.
#pragma once

#include <cstddef>
#include <cstdint>

// Room of the inline text of a term: 53 characters and a NUL.
constexpr int TERM_NAME_MAX = 53;
// Room of a cursor qualifier: 8 characters and a NUL.
constexpr int MAX_CURSOR_LEN = 8;

// Term types.
enum : int32_t {
    TERM_STRING = 1,
    TERM_NUMBER = 2,
    TERM_COLUMN = 3,
    TERM_NAME = 4,
    TERM_VECTOR = 5,
};

// Data types (checks accept values up to 6).
enum : int32_t { DT_UNDEFINED = 0, DT_CHAR = 1, DT_INT = 2, DT_DOUBLE = 3 };

struct sTermTable {
    int32_t lexeme_type;           // always 2 (LEX_TERM)
    int32_t term_type;             // TERM_STRING ... TERM_VECTOR
    int16_t work_flag;             // 1 on work terms of the interpreter; never bound
    char name[TERM_NAME_MAX + 1];  // the term's text; also the inline value text
    char* value;                   // current value text (null until bound)
    int16_t allocd_value;          // 1 when value is a buffer the term owns
    int32_t data_type;             // DT_*
    union {
        int32_t int_val;
        double dbl_val;
    };
    int32_t num_type;                      // 0 none, 2 int_val, 3 dbl_val
    char cursor_name[MAX_CURSOR_LEN + 1];  // qualifier of a column reference
    char** value_ref;       // null unbound; a column's value pointer; term_value_ref_final()
    int16_t len;            // length of the value text (a row element: the longest its
                            // buffer took); 0: the text's own length
    sTermTable* sum_term;   // running-sum term of SUM
    sTermTable* copy_link;  // ROW: a value's copy, or the value a copy copies
    sTermTable* vector;     // ROW: first element (holder) or next element
    sTermTable* next;       // next term of the chain
};
using TERM_TABLE = sTermTable;

// `value_ref` of a term bound for good (constants, variables).
inline char** term_value_ref_final() { return reinterpret_cast<char**>(~uintptr_t{0}); }
// An anchor value that marks "no term table may be used now" (all bits set).
inline TERM_TABLE* term_tb_invalid() { return reinterpret_cast<TERM_TABLE*>(~uintptr_t{0}); }

struct curs;

extern TERM_TABLE* term_tb_anchor;    // head of the active term table; null when none
extern TERM_TABLE* current_term;      // the name term the term lexer is building
extern TERM_TABLE* reuse_term_store;  // released work terms, linked by next
extern curs* current_cursor;          // the cursor plain names bind to; null when none

// Installs a term table (null starts a new one). term_tb_invalid() is severe "TRM0150" and
// ends the process through quitting.
void open_lexer(TERM_TABLE* anchor);
// Writes the active anchor into *owner (so a table created while lexing reaches its owner)
// and clears the active anchor.
void close_lexer(TERM_TABLE** owner);
void set_term_tb_anchor(TERM_TABLE* anchor);
TERM_TABLE* get_lex_term_tb_anchor();

// Installs the table and releases every term of it (vector chains included); the active
// anchor is null afterwards and the registry no longer records the table.
void free_perm_term_tb(TERM_TABLE* anchor);

// Shared or new name term of the active table for text[0..length). Null when the text does
// not fit the term (more than 53 characters) or no table may be used.
TERM_TABLE* find_name_entry(const char* text, int16_t length);
// Shared or new number term (data type 3 with a period, 2 without); null as above.
TERM_TABLE* find_number_entry(const char* text, int16_t length);
// Shared or new string term (data type 1); shared only with an exactly equal text.
TERM_TABLE* find_string_entry(const char* text, int16_t length);
// First column term of the active table with the same cursor and column names as `term`
// (ignoring case); it may be `term` itself. Null when none.
TERM_TABLE* find_column_term(const TERM_TABLE* term);

// A new term appended to the active table (its head is recorded in the registry when the
// table was empty). Null only when no table may be used (after "TRM0150").
TERM_TABLE* chain_to_perm_term_tb(int32_t term_type, int32_t data_type);
// A new zeroed term outside any table: lexeme type 2, value pointing to its own name.
TERM_TABLE* alloc_term(int32_t term_type, int32_t data_type);

// Unlinks a term from the active table and releases it (mode 0). 0 done; 1 with a warning
// when the term is null ("LEX0230") or not in the table ("LEX0240").
int unchain_and_free_term(TERM_TABLE* term);
// Releases a term: its own value buffer, its vector chain (same mode), then the record
// (mode 0) or keeps it on reuse_term_store (mode 1). 0, or 1 when a check failed.
int free_term(TERM_TABLE* term, int mode);
// As free_term, without the vector chain (which belongs to others).
int simple_free_term(TERM_TABLE* term, int mode);
// 0 valid, 1 invalid. The checks run only at trace level 8; otherwise 0.
int verify_term(const TERM_TABLE* term);
