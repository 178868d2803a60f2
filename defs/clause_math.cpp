// The math clause.
#include "defs/clause_math.h"

#include <cstring>
#include <string>

#include "defs/clause_words.h"
#include "defs/tokenizer.h"
#include "model/cursor.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

bool is_operand(int16_t k) { return k == MW_NAME || k == MW_CONSTANT; }
bool is_operator(int16_t k) { return k >= MW_ADD && k <= MW_DIVIDE; }

const char* describe(int16_t content) {
    switch (content) {
        case MW_NAME:
            return ": name";
        case MW_LEFT:
            return ": Left Parenthesis";
        case MW_RIGHT:
            return ": Right parenthesis";
        case MW_ADD:
            return ": Addition";
        case MW_SUBTRACT:
            return ": Subtraction";
        case MW_MULTIPLY:
            return ": Multiplicaton";
        case MW_DIVIDE:
            return ": Division";
        default:
            return "";
    }
}

struct symbol_entry {
    int16_t content;
    char symbol;
};
constexpr symbol_entry symbols[] = {{MW_LEFT, '('},     {MW_RIGHT, ')'},    {MW_ADD, '+'},
                                    {MW_SUBTRACT, '-'}, {MW_MULTIPLY, '*'}, {MW_DIVIDE, '/'}};

}  // namespace

char math_symbol(int16_t content) {
    for (const symbol_entry& e : symbols)
        if (e.content == content) return e.symbol;
    return '\0';
}

int16_t math_symbol_kind(char c) {
    for (const symbol_entry& e : symbols)
        if (e.symbol == c) return e.content;
    return 0;
}

const char* math_neighbour_fault(int16_t prev, int16_t k, int16_t next) {
    if (is_operand(k)) {
        if (!(prev == 0 || is_operator(prev) || prev == MW_LEFT)) return "pma3460";
        if (!(next == 0 || is_operator(next) || next == MW_RIGHT)) return "pma3465";
    } else if (k == MW_LEFT) {
        if (is_operand(prev)) return "pma3420";
        if (next == 0) return "pma3430";
        if (!(is_operand(next) || next == MW_LEFT)) return "pma3425";
    } else if (k == MW_RIGHT) {
        if (!(prev == 0 || is_operand(prev) || prev == MW_RIGHT)) return "pma3435";
        if (is_operand(next)) return "pma3440";
    } else if (is_operator(k)) {
        if (!(prev == 0 || is_operand(prev) || prev == MW_RIGHT)) return "pma3445";
        if (next == 0) return "pma3455";
        if (!(is_operand(next) || next == MW_LEFT)) return "pma3450";
    }
    return nullptr;
}

namespace {

// The value after "decimal" or "initial" (w, the option word) into the anchor. False after
// a message.
bool read_math_value(m_anch* a, const char* w, char** pos, char* end, const char* text) {
    bool decimal = w[0] == 'd' || w[0] == 'D';
    if (clause_next_word(pos, end) == 0 || (parse_word.num_flags & PN_NUMBER) == 0) {
        if (decimal)
            PRINT('e', "pma3370", "Decimal specified without value in %s\n", text);
        else
            PRINT('e', "pma3375", "Initial specified without value in %s\n", text);
        return false;
    }
    if (!decimal) {
        a->initial = word_number(parse_word.text, parse_word.len);
        return true;
    }
    double v = word_number(parse_word.text, parse_word.len);
    if (v < 0 || v >= math_max_decimals + 1) {
        PRINT('e', "pma3371", "Decimal value out of range (0 to %d) in %s\n", math_max_decimals,
              text);
        return false;
    }
    a->decimals = static_cast<int16_t>(v);
    return true;
}

// The options up to the first word that is none, which is left in parse_word: its length
// in *n (0 at the end of the clause). The rounder follows from the options. False after a
// message.
bool read_math_options(m_anch* a, char** pos, char* end, const char* text, int32_t* n) {
    *n = clause_next_word(pos, end);
    while (*n > 0) {
        const char* w = parse_word.text;
        if (word_is(w, *n, "decimal", "DECIMAL") || word_is(w, *n, "initial", "INITIAL")) {
            if (!read_math_value(a, w, pos, end, text)) return false;
        } else if (word_is(w, *n, "noround", "NOROUND")) {
            a->round = 0;
        } else if (word_is(w, *n, "high", "HIGH")) {
            a->hi_low = 1;
        } else if (word_is(w, *n, "low", "LOW")) {
            a->hi_low = 2;
        } else if (!word_is(w, *n, "round", "ROUND")) {
            break;
        }
        *n = clause_next_word(pos, end);
    }
    a->rounder = 0.0;
    if (a->round == 1) {
        a->rounder = 0.5;
        for (int i = 0; i < a->decimals; ++i) a->rounder /= 10.0;
    }
    return true;
}

// The name (n characters in parse_word), unique among the cursor's math clauses. False
// after a message.
bool read_math_name(curs* cursor, m_anch* a, int32_t n, const char* text) {
    if (n > 49) {
        PRINT('e', "pma3380", "Math name too long : %s\n", text);
        return false;
    }
    if (n > 0) copy_field(a->name, sizeof(a->name), parse_word.text, static_cast<size_t>(n));
    for (m_anch* o = cursor->m_anch; o != nullptr; o = o->next) {
        if (o != a && std::memcmp(o->name, a->name, sizeof(a->name)) == 0) {
            PRINT('e', "pma3385", "Duplicate use of math name %s\n", a->name);
            return false;
        }
    }
    return true;
}

// The next word of the expression into parse_word; its length, 0 at the end. A ")" that
// closes nothing is refused by the tokenizer; it is still a word of the expression, and
// the parenthesis check reports it.
int32_t next_math_word(char** pos, char* end) {
    char* before = *pos;
    int32_t n = clause_next_word(pos, end);
    if (n == 0 && this_len < 0 && this_start >= before && this_start < end && *this_start == ')') {
        ++parens;
        parse_word.text = this_start;
        parse_word.len = 1;
        parse_word.num_flags = 0;
        *pos = this_start + 1;
        n = 1;
    }
    return n;
}

// The expression's words, each a math_in of the anchor. False after a message.
bool read_math_words(m_anch* a, char** pos, char* end) {
    for (int32_t n; (n = next_math_word(pos, end)) > 0;) {
        const char* w = parse_word.text;
        if (n > 49) {  // an operator or parenthesis is one character
            PRINT('e', "pma3390", "Word in math expression is too long : %s\n", w);
            return false;
        }
        auto* mi = clause_new<math_in>();
        if ((parse_word.num_flags & PN_NUMBER) != 0) {
            mi->content = MW_CONSTANT;
            mi->value = word_number(w, n);
        } else if (n == 1 && math_symbol_kind(w[0]) != 0) {
            mi->content = math_symbol_kind(w[0]);
        } else {
            mi->content = MW_NAME;
        }
        copy_field(mi->word, sizeof(mi->word), w, static_cast<size_t>(n));
        chain_append(&a->math_in, mi);
        ++a->word_count;
    }
    return true;
}

void trace_math_words(const m_anch* a) {
    PRINT('t', "pma3395", "Math name = %s, Word count = %d\n", a->name, a->word_count);
    for (const math_in* mi = a->math_in; mi != nullptr; mi = mi->next) {
        if (mi->content == MW_CONSTANT)
            PRINT('t', "pma3405", "%s : constant : %f\n", mi->word, mi->value);
        else
            PRINT('t', "pma3405", "%s %s\n", mi->word, describe(mi->content));
    }
}

// Parentheses in order and balanced; counts the left ones. False after a message.
bool check_math_parens(m_anch* a, const char* text) {
    int depth = 0;
    for (math_in* mi = a->math_in; mi != nullptr; mi = mi->next) {
        if (mi->content == MW_LEFT) {
            ++depth;
            ++a->left_parens;
        } else if (mi->content == MW_RIGHT && --depth < 0) {
            PRINT('e', "pma3410", "Right paren out of order\n");
            return false;
        }
    }
    if (depth != 0) {
        PRINT('e', "pma3415", "Parens don't balance in %s\n", text);
        return false;
    }
    return true;
}

// Every word with neighbours it may have. False after a message.
bool check_math_neighbours(const m_anch* a, const char* text) {
    int16_t prev = 0;
    int at = 1;
    for (const math_in* mi = a->math_in; mi != nullptr; mi = mi->next, ++at) {
        int16_t next = mi->next != nullptr ? mi->next->content : 0;
        if (const char* id = math_neighbour_fault(prev, mi->content, next)) {
            PRINT('e', id, "Bad math syntax starting at word %d in %s\n", at, text);
            return false;
        }
        prev = mi->content;
    }
    return true;
}

}  // namespace

int parse_math(curs* cursor, char* text) {
    char* end = clause_end(text);
    char* pos = text;

    auto* a = clause_new<m_anch>();
    chain_append(&cursor->m_anch, a);
    a->decimals = 2;
    a->round = 1;

    int32_t n = 0;
    if (!read_math_options(a, &pos, end, text, &n)) return 1;
    if (!read_math_name(cursor, a, n, text)) return 1;
    if (n > 0 && !read_math_words(a, &pos, end)) return 1;
    if (cursor->tracem) trace_math_words(a);
    if (!check_math_parens(a, text) || !check_math_neighbours(a, text)) return 1;

    size_t count = a->word_count > 0 ? static_cast<size_t>(a->word_count) : 1;
    a->math = static_cast<math*>(clause_alloc(count * sizeof(math)));
    return 0;
}

void free_math_chain(m_anch* a) {
    while (a != nullptr) {
        m_anch* next = a->next;
        for (math_in* mi = a->math_in; mi != nullptr;) {
            math_in* n = mi->next;
            U_FREE(mi);
            mi = n;
        }
        U_FREE(a->math);
        U_FREE(a);
        a = next;
    }
}
