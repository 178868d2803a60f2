// The expression lexer: a table-driven scanner that turns the text of an expression into a
// lexeme list, entering every constant, name and column reference into the active term table.
//
// One driver (`lexer`) runs three machines: the expression lexer (ExprStateTable), the term
// lexer (TermStateTable), which reads one term, and the argument lexer (SubExprStateTable),
// which reads the parenthesised argument list of a function. A character class table gives
// each character one of 13 classes; an 8 x 13 transition matrix gives the next state from the
// state whose routine just ran and the class of the current character.
//
// The client installs its term table with open_lexer first (term_table.h). All state is
// global; single-threaded.
#pragma once

#include <cstdint>

#include "expr/lexeme.h"

// One row of the character class table: a set of characters, or a predicate, or neither.
struct CHAR_TYPE_ROW {
    const char* set;
    bool (*predicate)(int c);
};
constexpr int CHAR_CLASSES = 13;
extern const CHAR_TYPE_ROW char_type_tb[CHAR_CLASSES];

// Character classes.
enum : int {
    CC_NONE = 0,     // any other character: an error
    CC_OPEN = 1,     // (
    CC_CLOSE = 2,    // )
    CC_ALPHA = 3,    // A-Z a-z
    CC_DIGIT = 4,    // 0-9
    CC_SPECIAL = 5,  // ! %
    CC_QUOTE = 6,    // ' "
    CC_BLANK = 7,    // codes 1 to 32
    CC_OPER = 8,     // + - * / > < = : ^
    CC_END = 9,      // ; and the NUL
    CC_COMMA = 10,   // ,
    CC_UNARY = 11,   // set by a routine after a unary operator
    CC_PERIOD = 12,  // .
    CC_UNDERSCORE = 13,
};

// The state of one lexer run, which every state routine receives. `pos` is an offset from
// `text`; it may stand one before the start while a routine hands a character back to the
// driver, but nothing is read there and no pointer before the text is ever formed.
struct LEX_CONTEXT {
    const char* text;
    long pos;
    int cls;
    int depth;
    LEXEME* out;     // the lexeme buffer (MAX_LEXEMES entries, zeroed)
    int16_t* count;  // lexemes emitted so far
    const CHAR_TYPE_ROW* char_tb;
};

// A state routine's result: 0 next character and classify it; 2 next character, keep the
// class the routine set; 1 next character and stop with success; -1 stop with failure.
using LEX_ROUTINE = int (*)(LEX_CONTEXT& ctx);
constexpr int LEX_STATES = 8;
extern const LEX_ROUTINE ExprStateTable[LEX_STATES];
extern const LEX_ROUTINE SubExprStateTable[LEX_STATES];
extern const LEX_ROUTINE TermStateTable[LEX_STATES];
extern const int32_t express_switch_mx[LEX_STATES][CHAR_CLASSES];
extern const int32_t term_switch_mx[LEX_STATES][CHAR_CLASSES];

struct LEXER_INPUT {
    const CHAR_TYPE_ROW* char_tb;
    const LEX_ROUTINE* state_tb;
    const char** text;  // in: start of the text; out: the position reached
    int16_t* count;     // out: lexemes in the list
};

// Runs one lexer. Returns its lexeme list (MAX_LEXEMES entries, zeroed after the last;
// owned by the caller, released with u_free), or null after an error message. The text
// pointer is left where the run stopped (one past the character that ended it on success).
LEXEME* lexer(const LEXER_INPUT& input, const int32_t (*matrix)[CHAR_CLASSES]);

// Class 1 to 13 of the character at c, or 0. The NUL is class 9 (with the warning "LEX0035"
// at trace level 8).
int find_char_type(const char* c, const CHAR_TYPE_ROW* char_tb);

// The character that ends an expression: ';'.
char get_expr_end_sign();

// Lexes the expression at *text and converts it to reverse Polish order. Returns the array
// (RPN_ENTRIES entries, owned by the caller, released with u_free), or null after
// "LEX0005"/"LEX0007". *text is left one past the ";" or NUL that ended the expression.
LEXEME* parse_expression(const char** text);
