// The decode clause of a cursor block: rules that replace a column's value (by a number, a
// string or another column's value) or schedule a cursor, when the value meets a condition.
//
//   decode column operator operand [and operator operand]... , replacement
//   decode column operator operand [and operator operand]... run cursor
//   decode column NULL replacement      decode column DEFAULT replacement
//
// The same reader serves the WHERE condition of a load and the iterate_where filter: they
// append LOAD_TEXT_TAIL to their condition so that it reads as a rule whose replacement is
// a quoted blank.
#pragma once

#include <cstdint>
#include <type_traits>

struct curs;
struct columns;
struct in_list;
struct curslist;

// Width of one value image: an operand or a replacement.
inline constexpr int OPERANDLL = 256;
// What a condition gets appended to read as a decode rule.
inline constexpr const char LOAD_TEXT_TAIL[] = " , ' '";

// Operator codes (decode_op::operatr, and_part::operatr).
enum : int16_t {
    DOP_EQ = 1,
    DOP_GT = 2,
    DOP_LT = 3,
    DOP_NULL = 4,
    DOP_DEFAULT = 5,
    DOP_GE = 6,
    DOP_LE = 7,
    DOP_NE = 8,
    DOP_SEARCH = 9,
    DOP_IN = 10,
    DOP_AND_MASK = 11,
};
// Operand kinds: number, quoted string, column, in-list (a column word after IN).
enum : int16_t { DOK_NUMBER = 1, DOK_STRING = 2, DOK_COLUMN = 3, DOK_IN_LIST = 5 };
// Replacement kinds: number, quoted string, column, cursor to run.
enum : int16_t { DRK_NUMBER = 1, DRK_STRING = 2, DRK_COLUMN = 3, DRK_RUN = 4 };

// One AND condition of a rule. Owns its 256-byte operand image.
struct and_part {
    and_part* next;
    int16_t operatr;
    int16_t operand_type;
    double op_num;
    int16_t operand_ll;
    char* operand;  // the image: a number right-aligned at byte 255, a string from byte 0
    char operand_column[50];
    columns* op_col;          // bound later
    curs* op_curs;            // bound later
    struct in_list* in_list;  // bound later
    int16_t andee;            // mask of '&'
};

// One rule. Owns one 512-byte block: the operand image (bytes 0..255) and the replacement
// image (bytes 256..511), blank-filled; a number's text is right-aligned in its half, a
// string's text starts at the half's first byte.
struct decode_op {
    decode_op* next;
    int16_t set;  // run-time state
    int16_t operatr;
    int16_t operand_type;
    double op_num;
    int16_t operand_ll;
    char* operand;  // the block; null for '&', NULL and DEFAULT
    char operand_column[50];
    curs* op_curs;    // bound later
    columns* op_col;  // bound later
    int16_t replacement_type;
    int16_t replacement_ll;
    char* replacement;  // byte 256 of the block
    char replacement_column[50];
    curs* rep_curs;             // bound later
    columns* rep_col;           // bound later
    and_part* and_;             // the AND conditions ("and" is a reserved word here)
    struct curslist* curslist;  // run-time
    struct in_list* in_list;    // bound later for IN
    int32_t andee;              // mask of '&'
};

// One cursor to run after the current one. A rule that runs a cursor owns one entry that
// names it; the queue of a running cursor (curs::curslist) holds entries of its own, each
// with the row number of the row that scheduled it.
struct curslist {
    curslist* next;
    curs* cur_to_run;
    int32_t rowno;
};

// The rules of one decoded column.
struct decode {
    decode* next;
    struct decode_op* decode_op;
    char col_name[50];
};

// Frees a chain of queued post-cursors.
void free_curslist(curslist* l);

static_assert(std::is_trivially_copyable_v<curslist>);
static_assert(std::is_trivially_copyable_v<decode>);
static_assert(std::is_trivially_copyable_v<decode_op>);
static_assert(std::is_trivially_copyable_v<and_part>);
static_assert(std::is_trivially_copyable_v<curslist>);

// Reads one rule from text (to its terminating zero) and chains it under the cursor's
// decode for its column (a new decode at the end of the chain when the column has none).
// 0 on success; 1 after one message (pde3740 to pde3805, pde3786 for an operand or
// replacement longer than its image), nothing of the rule chained.
int parse_decode(curs* cursor, char* text);

// Reads one AND condition from position (just after the word "and") and appends it to the
// chain at *head. Returns the position after its operand; null after one message (pde3915
// to pde3950, pde3951 for an operand longer than its image), nothing appended.
char* parse_and(and_part** head, char* position, char* end);

// Frees a chain of decodes with their rules, images, AND parts and run entries.
void free_decode_chain(decode* d);
