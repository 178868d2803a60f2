// A select's condition compiled for the rows of one cursor: the comparisons, LIKEs, ANDs,
// ORs and NOTs of a reverse Polish array over text columns of that cursor, string constants
// and text work variables, evaluated straight from the row text.
//
// The interpreter evaluates such a condition by binding every term afresh, copying each
// column value into its term, and writing every logical result as text into a work term;
// over thousands of rows and hundreds of selects a pass that costs most of its time. A plan
// gives the same answer without any of that: each column is measured (and trimmed) once per
// row, whatever the number of terms that read it, and results stay booleans.
//
// A plan takes only what it can answer exactly as the interpreter would. A condition with
// anything else (numbers, numeric columns, arithmetic, unbound names, empty constants) gets no
// plan; a text column of another cursor counts as a constant of the select, read when the
// plan is compiled (that cursor's row does not move while the select runs); a row on which the
// interpreter would write a message (an empty text compared, a column without a value) is left to
// the interpreter, which then writes it. Single-threaded; the plan holds no heap memory.
#pragma once

#include <cstddef>
#include <cstdint>

#include "expr/lexeme.h"

struct curs;
struct columns;

class condition_plan {
  public:
    // Compiles the (unevaluated, unmodified) array for the cursor; false when it has no plan.
    // The texts of work variables are taken now: call it once per select, not per row.
    bool compile(const LEXEME* rpn, const curs* c);
    // For the row the cursor's columns point at: 1 take the row, 0 skip it, -1 let the
    // interpreter evaluate it.
    int evaluate();

    // An equality every taken row meets: a text column of the cursor equal to a fixed text
    // (`len` bytes, trailing blanks dropped, at least 1), reached from the top through ANDs
    // only. A row whose field differs is skipped by evaluate, unless the plan hands it over.
    struct Key {
        const columns* col;
        const char* text;
        size_t len;
    };
    // Up to max such equalities into keys; their number.
    int required_keys(Key* keys, int max) const;
    static constexpr int MAX_KEYS = 8;
    static constexpr int MAX_COLUMNS = 8;
    // The cursor's columns that the plan compares (a row with such a field empty is handed
    // over to the interpreter), into cols (room for MAX_COLUMNS); their number.
    int compared_columns(const columns** cols) const;

  private:
    static constexpr int MAX_OPERANDS = 64;
    static constexpr int MAX_STEPS = 64;

    enum Kind : uint8_t { EQ, NE, LT, GE, GT, LE, LIKE, AND, OR, NOT };

    // A text read by comparisons: a fixed text, or a column measured at each row.
    struct Operand {
        int column;        // index into columns_, or -1 for a fixed text
        const char* text;  // the fixed text (only its first `trimmed` bytes are read)
        size_t trimmed;    // its length without trailing blanks (at least 1)
        bool compared;     // an operand of a comparison (an empty text is reported)
    };
    // One column of the cursor, measured lazily per row.
    struct Column {
        const columns* col;
        size_t width;
        uint32_t measured;  // the row number the measure belongs to
        size_t trimmed;
    };
    // One operation: a, b operand indexes (comparison, LIKE) or step indexes (logic).
    struct Step {
        Kind kind;
        int a, b;
    };

    int column_index(const columns* col);
    int add_operand(const void* term, const curs* c);
    // The text and the trimmed length of an operand on the current row.
    const char* text_of(int operand, size_t* trimmed);
    bool column_equals(int column, const Operand& fixed);
    // The truth of step s on the current row.
    bool holds(int s);
    void collect_keys(int s, Key* keys, int max, int* n) const;

    Column columns_[MAX_COLUMNS];
    Operand operands_[MAX_OPERANDS];
    Step steps_[MAX_STEPS];
    int n_columns_ = 0;
    int n_operands_ = 0;
    int n_steps_ = 0;
    uint32_t row_ = 0;
};
