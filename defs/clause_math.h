// The math clause of a cursor block: a computed column, an arithmetic expression over
// columns and constants with rounding to a number of decimals, an optional initial value
// and an optional high- or low-water mark.
//
//   math [decimal n] [noround | round] [initial v] [high | low] name expression
//
// parse_math checks the expression word by word; the collector binds the name words to
// columns and compiles the words into the anchor's math array.
#pragma once

#include <cstdint>
#include <type_traits>

struct curs;
struct columns;

// Word kinds (math_in::content, math::content).
enum : int16_t {
    MW_NAME = 1,
    MW_LEFT = 2,
    MW_RIGHT = 3,
    MW_CONSTANT = 4,
    MW_ADD = 5,
    MW_SUBTRACT = 6,
    MW_MULTIPLY = 7,
    MW_DIVIDE = 8,
};

// One word of a math expression.
struct math_in {
    math_in* next;
    char word[50];  // the text; an operator or parenthesis is its one character
    int16_t content;
    double value;       // a constant's value
    struct curs* curs;  // cursor of a name word (bound later)
    columns* col_ptr;   // column of a name word (bound later)
};

// The compiled form of one word (filled by the collector). Values are double, so that a
// counter above 2^24 keeps its last digits.
struct math {
    double value;
    int16_t content;
};

// One math statement; its name is the cursor column that receives the result.
struct m_anch {
    m_anch* next;
    struct math_in* math_in;
    char name[50];
    int16_t word_count;
    int16_t left_parens;
    struct math* math;  // word_count entries
    int16_t decimals;   // 0 to 15
    int16_t round;      // 1 round, 0 truncate
    double rounder;     // added to a positive result (subtracted from a negative) before
                        // it is cut to decimals: 0.5 / 10^decimals, 0.0 without rounding
    double water;
    int16_t hi_low;  // 0 none, 1 high-water mark, 2 low-water mark
    int16_t water_set;
    double initial;
};

static_assert(std::is_trivially_copyable_v<math_in>);
static_assert(std::is_trivially_copyable_v<math>);
static_assert(std::is_trivially_copyable_v<m_anch>);

// Largest decimal count of a math column.
inline constexpr int math_max_decimals = 15;

// The one-character words of an expression, parentheses and operators, and their kinds:
// the character of a kind (MW_LEFT, MW_RIGHT, MW_ADD to MW_DIVIDE), '\0' for any other kind;
// the kind of a character, 0 for any other character.
char math_symbol(int16_t content);
int16_t math_symbol_kind(char c);

// Reads one math statement (the text after the keyword) into a new anchor appended at once
// to the cursor's m_anch chain (it stays there, as far as it was filled, when the
// statement fails). 0 on success; 1 after one message ("pma3370" to "pma3465"; "pma3371"
// for a decimal count outside 0 to 15).
int parse_math(curs* cursor, char* text);

// The neighbour rule that a word of kind k breaks between words of kinds prev and next
// (0 for none): its message id ("pma3420" to "pma3465"), or null when k may stand there.
const char* math_neighbour_fault(int16_t prev, int16_t k, int16_t next);

// Frees a chain of math anchors with their words and arrays.
void free_math_chain(m_anch* a);
