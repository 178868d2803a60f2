#include "expr/condition_plan.h"

#include <cstring>
#include <initializer_list>

#include "expr/interpreter.h"
#include "expr/like.h"
#include "expr/operation_table.h"
#include "expr/operators.h"
#include "expr/term_table.h"
#include "expr/term_value.h"
#include "model/cursor.h"

namespace {

// The kind of a row of the operation table, by its routine; false for any other row.
template <typename Kind>
bool kind_of(const sOperationTable* row, Kind* kind) {
    struct Entry {
        OPER_ROUTINE routine;
        int16_t args;
        Kind kind;
    };
    static const Entry entries[] = {
        {equ_prc, 2, Kind::EQ},    {nequ_prc, 2, Kind::NE}, {less_prc, 2, Kind::LT},
        {nless_prc, 2, Kind::GE},  {grt_prc, 2, Kind::GT},  {ngrt_prc, 2, Kind::LE},
        {like_prc, 2, Kind::LIKE}, {and_prc, 2, Kind::AND}, {or_prc, 2, Kind::OR},
        {not_prc, 1, Kind::NOT},
    };
    for (const Entry& e : entries) {
        if (row->routine == e.routine && row->arg_count == e.args) {
            *kind = e.kind;
            return true;
        }
    }
    return false;
}

bool cursor_has(const curs* c, const columns* col) {
    for (const columns* k = c->insert_columns; k; k = k->next)
        if (k == col) return true;
    return false;
}

}  // namespace

int condition_plan::column_index(const columns* col) {
    for (int i = 0; i < n_columns_; ++i)
        if (columns_[i].col == col) return i;
    if (n_columns_ == MAX_COLUMNS) return -1;
    columns_[n_columns_] = {col, col->len > 0 ? static_cast<size_t>(col->len) : 0, 0, 0};
    return n_columns_++;
}

int condition_plan::add_operand(const void* lexeme, const curs* c) {
    if (n_operands_ == MAX_OPERANDS) return -1;
    const auto* t = static_cast<const TERM_TABLE*>(lexeme);
    if (t->work_flag != 0) return -1;
    Operand op = {-1, nullptr, 0, false};
    const bool bound_for_good = t->value_ref == term_value_ref_final();
    if (t->term_type == TERM_STRING) {
        // Bound at its first use to its own text.
        op.text = t->value_ref == nullptr ? t->name : (bound_for_good ? t->value : nullptr);
    } else if ((t->term_type == TERM_COLUMN || t->term_type == TERM_NAME) &&
               t->value_ref != nullptr && !bound_for_good) {
        const columns* col = bound_column(t);
        if (col->orig_type == 2) return -1;
        if (cursor_has(c, col)) {
            // A column of this cursor is read afresh at every row: the select points its
            // value at row after row.
            op.column = column_index(col);
            if (op.column < 0) return -1;
        } else {
            // A column of another cursor (a variable select_column bound to it, as the monitor
            // procedures bind buffer_name and diskmon): no fetch of that cursor happens during
            // the select, so its text is read once, now, as every row would read it.
            if (col->from == nullptr) return -1;
            const size_t n = col->len > 0 ? strnlen(col->from, static_cast<size_t>(col->len)) : 0;
            op.text = n > 0 ? col->from : "";
            op.trimmed = less_blanks_len(op.text, n);
            operands_[n_operands_] = op;
            return n_operands_++;
        }
    } else if (t->term_type == TERM_NAME && bound_for_good && t->data_type == DT_CHAR) {
        // A text work variable: its text as it is at select time.
        op.text = t->value;
    } else {
        return -1;
    }
    if (op.column < 0) {
        if (op.text == nullptr) return -1;
        op.trimmed = less_blanks_len(op.text, std::strlen(op.text));
    }
    operands_[n_operands_] = op;
    return n_operands_++;
}

bool condition_plan::compile(const LEXEME* rpn, const curs* c) {
    n_columns_ = n_operands_ = n_steps_ = 0;
    row_ = 0;
    if (!rpn || !c) return false;
    // The interpreter's argument gathering is a stack: each operation takes the nearest
    // preceding values not yet taken. An entry is a term (>= 0: the lexeme's index) or the
    // result of a step (< 0: -1 - step).
    int stack[MAX_OPERANDS];
    int depth = 0;
    for (int i = 0; rpn[i]; ++i) {
        const int32_t type = lexeme_type_of(rpn[i]);
        if (type == LEX_TERM) {
            if (depth == MAX_OPERANDS) return false;
            stack[depth++] = i;
            continue;
        }
        if (type != LEX_OPERATION || n_steps_ == MAX_STEPS) return false;
        Kind kind;
        if (!kind_of(as_operation(rpn[i]), &kind)) return false;
        const int args = kind == NOT ? 1 : 2;
        if (depth < args) return false;
        depth -= args;
        Step step = {kind, 0, 0};
        if (kind == AND || kind == OR || kind == NOT) {
            // Logic takes results of comparisons only: a text has no truth value.
            for (int k = 0; k < args; ++k)
                if (stack[depth + k] >= 0) return false;
            step.a = -1 - stack[depth];
            step.b = args == 2 ? -1 - stack[depth + 1] : 0;
        } else {
            for (int k = 0; k < 2; ++k)
                if (stack[depth + k] < 0) return false;
            step.a = add_operand(rpn[stack[depth]], c);
            step.b = add_operand(rpn[stack[depth + 1]], c);
            if (step.a < 0 || step.b < 0) return false;
            if (kind != LIKE) {
                for (int op : {step.a, step.b}) {
                    Operand& o = operands_[op];
                    o.compared = true;
                    // An empty fixed text would be reported at every row.
                    if (o.column < 0 && o.text[0] == '\0') return false;
                }
            }
        }
        steps_[n_steps_] = step;
        stack[depth++] = -1 - n_steps_;
        ++n_steps_;
    }
    return n_steps_ > 0;
}

const char* condition_plan::text_of(int operand, size_t* trimmed) {
    const Operand& o = operands_[operand];
    if (o.column < 0) {
        *trimmed = o.trimmed;
        return o.text;
    }
    Column& k = columns_[o.column];
    const char* text = k.col->from;
    if (k.measured != row_) {
        k.trimmed = less_blanks_len(text, strnlen(text, k.width));
        k.measured = row_;
    }
    *trimmed = k.trimmed;
    return text;
}

// The text of a column equals a fixed text (its length without trailing blanks `trimmed`,
// at least 1) exactly when their lengths without trailing blanks and their bytes agree: the
// field starts with the text and only blanks follow up to its end. A mismatch shows in the
// first bytes, so most rows are decided without measuring the field.
bool condition_plan::column_equals(int column, const Operand& fixed) {
    const Column& k = columns_[column];
    const char* text = k.col->from;
    const size_t n = fixed.trimmed;
    if (k.measured == row_) return k.trimmed == n && std::memcmp(text, fixed.text, n) == 0;
    // The fixed text holds no NUL in its first n bytes: a field that ends earlier differs
    // within them.
    if (n > k.width || std::memcmp(text, fixed.text, n) != 0) return false;
    for (size_t i = n; i < k.width && text[i] != '\0'; ++i)
        if (text[i] != ' ') return false;
    // A field of blanks is one blank long: the text " " equals it, and did compare equal.
    return true;
}

bool condition_plan::holds(int s) {
    const Step& step = steps_[s];
    switch (step.kind) {
        case AND:
            return holds(step.a) && holds(step.b);
        case OR:
            return holds(step.a) || holds(step.b);
        case NOT:
            return !holds(step.a);
        case EQ:
        case NE: {
            const Operand& a = operands_[step.a];
            const Operand& b = operands_[step.b];
            if ((a.column < 0) != (b.column < 0)) {
                const bool equal =
                    a.column >= 0 ? column_equals(a.column, b) : column_equals(b.column, a);
                return step.kind == EQ ? equal : !equal;
            }
            break;
        }
        default:
            break;
    }
    size_t la = 0, lb = 0;
    const char* a = text_of(step.a, &la);
    const char* b = text_of(step.b, &lb);
    if (step.kind == LIKE) return like_match(a, la, b, lb);
    // The order of two texts: by their lengths without trailing blanks, then bytes.
    const int64_t r = la != lb ? static_cast<int64_t>(la) - static_cast<int64_t>(lb)
                               : (la == 0 ? 0 : std::memcmp(a, b, la));
    switch (step.kind) {
        case EQ:
            return r == 0;
        case NE:
            return r != 0;
        case LT:
            return r < 0;
        case GE:
            return r >= 0;
        case GT:
            return r > 0;
        default:
            return r <= 0;
    }
}

int condition_plan::evaluate() {
    if (++row_ == 0) {
        // After 2^32 rows the measures of the first row would seem current.
        for (int i = 0; i < n_columns_; ++i) columns_[i].measured = 0;
        row_ = 1;
    }
    // The rows the interpreter would write a message for are its own. Past this check no
    // operation can fail or write, so the logic may stop at the first operand that decides.
    for (int i = 0; i < n_operands_; ++i) {
        const Operand& o = operands_[i];
        if (o.column < 0) continue;
        const Column& k = columns_[o.column];
        if (k.col->from == nullptr) return -1;
        if (o.compared && (k.width == 0 || k.col->from[0] == '\0')) return -1;
    }
    return holds(n_steps_ - 1) ? 1 : 0;
}

void condition_plan::collect_keys(int s, Key* keys, int max, int* n) const {
    const Step& step = steps_[s];
    if (step.kind == AND) {
        collect_keys(step.a, keys, max, n);
        collect_keys(step.b, keys, max, n);
        return;
    }
    if (step.kind != EQ || *n == max) return;
    const Operand& a = operands_[step.a];
    const Operand& b = operands_[step.b];
    if ((a.column < 0) == (b.column < 0)) return;
    const Operand& column = a.column >= 0 ? a : b;
    const Operand& fixed = a.column >= 0 ? b : a;
    keys[(*n)++] = {columns_[column.column].col, fixed.text, fixed.trimmed};
}

int condition_plan::required_keys(Key* keys, int max) const {
    int n = 0;
    if (n_steps_ > 0) collect_keys(n_steps_ - 1, keys, max, &n);
    return n;
}

int condition_plan::compared_columns(const columns** cols) const {
    int n = 0;
    for (int k = 0; k < n_columns_; ++k) {
        bool compared = false;
        for (int i = 0; i < n_operands_ && !compared; ++i)
            compared = operands_[i].column == k && operands_[i].compared;
        if (compared) cols[n++] = columns_[k].col;
    }
    return n;
}
