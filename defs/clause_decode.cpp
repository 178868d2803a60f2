// Decode rules and their AND conditions.
#include "defs/clause_decode.h"

#include <cstring>
#include <string>

#include "defs/clause_words.h"
#include "defs/tokenizer.h"
#include "model/cursor.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

// One operand or replacement word as read: its kind and where its text is.
struct value_word {
    int16_t kind = 0;            // DOK_* (DRK_* use the same numbers for 1 to 3)
    const char* text = nullptr;  // number text, or string text without its quotes
    int32_t len = 0;             // characters of text
    double num = 0.0;
    std::string column;
};

bool word_is_number() { return (parse_word.num_flags & PN_NUMBER) != 0; }
bool word_is_quoted() { return (parse_word.num_flags & (PN_APOS | PN_DQUOTE)) != 0; }

// Puts the value's text into a blank image half of OPERANDLL bytes: a number right-aligned,
// a string from the first byte. Column words leave the half blank.
void fill_half(char* half, const value_word& v) {
    if (v.kind == DOK_NUMBER)
        std::memcpy(half + OPERANDLL - v.len, v.text, static_cast<size_t>(v.len));
    else if (v.kind == DOK_STRING)
        std::memcpy(half, v.text, static_cast<size_t>(v.len));
}

// Classifies the word just read as a number, a quoted string or a column name. Fails
// (false) after printing too_long_id for a value longer than its image, or column_id for
// a column name above 49 characters.
bool read_value(value_word& v, const char* too_long_id, const char* column_id,
                const char* column_text, const char* clause) {
    const char* t = parse_word.text;
    int32_t n = parse_word.len;
    if (word_is_number()) {
        v.kind = DOK_NUMBER;
        v.text = t;
        v.len = n;
        v.num = word_number(t, n);
    } else if (word_is_quoted() && n >= 2) {
        v.kind = DOK_STRING;
        v.text = t + 1;
        v.len = n - 2;
    } else {
        if (n > 49) {
            PRINT('e', column_id, column_text, clause);
            return false;
        }
        v.kind = DOK_COLUMN;
        v.column.assign(t, static_cast<size_t>(n));
        return true;
    }
    if (v.len > OPERANDLL) {
        PRINT('e', too_long_id, "Value too long (%d > %d) in %s\n", static_cast<int>(v.len),
              OPERANDLL, clause);
        return false;
    }
    return true;
}

void free_and_parts(and_part* a) {
    while (a != nullptr) {
        and_part* next = a->next;
        U_FREE(a->operand);
        U_FREE(a);
        a = next;
    }
}

// The message ids of a bad operator word, by its length; null where no operator of that
// length is accepted in the place (the word then gets other_id).
struct operator_ids {
    const char* other_id;
    const char* len1_id;
    const char* len2_id;
    const char* len4_id;
    const char* len6_id;
    const char* len7_id;
    bool in_allowed;  // "in" is an operator of the place
};

// A rule's operators: all of them.
constexpr operator_ids rule_ids = {"pde3775", "pde3760", "pde3765", "pde3755",
                                   "pde3770", "pde3750", true};
// An AND part's operators: no in, null or default.
constexpr operator_ids and_ids = {"pde3930", "pde3915", "pde3920", nullptr,
                                  "pde3925", nullptr,   false};

// Operator code of an operator word; 0 after "Invalid decode operator" with the id of the
// word's length.
int16_t decode_operator(const char* w, int32_t n, const char* text, const operator_ids& ids) {
    const char* id = ids.other_id;
    int16_t op = 0;
    if (n == 1) {
        id = ids.len1_id;
        switch (w[0]) {
            case '=':
                op = DOP_EQ;
                break;
            case '>':
                op = DOP_GT;
                break;
            case '<':
                op = DOP_LT;
                break;
            case '&':
                op = DOP_AND_MASK;
                break;
            default:
                break;
        }
    } else if (n == 2) {
        id = ids.len2_id;
        if (word_is(w, n, ">=", ">="))
            op = DOP_GE;
        else if (word_is(w, n, "<=", "<="))
            op = DOP_LE;
        else if (word_is(w, n, "~=", "~="))
            op = DOP_NE;
        else if (ids.in_allowed && word_is(w, n, "in", "IN"))
            op = DOP_IN;
    } else if (n == 4 && ids.len4_id != nullptr) {
        id = ids.len4_id;
        if (word_is(w, n, "null", "NULL")) op = DOP_NULL;
    } else if (n == 6) {
        id = ids.len6_id;
        if (word_is(w, n, "search", "SEARCH")) op = DOP_SEARCH;
    } else if (n == 7 && ids.len7_id != nullptr) {
        id = ids.len7_id;
        if (word_is(w, n, "default", "DEFAULT")) op = DOP_DEFAULT;
    }
    if (op == 0) PRINT('e', id, "Invalid decode operator in %s\n", text);
    return op;
}

void trace_rule(const decode_op* op) {
    PRINT('t', "pde3810", "Decode_op->operatr = %d\n", op->operatr);
    PRINT('t', "pde3815", "Decode_op->operand_type = %d\n", op->operand_type);
    PRINT('t', "pde3820", "Decode_op->op_num = %f\n", op->op_num);
    PRINT('t', "pde3825", "Decode_op->operand_ll = %d\n", op->operand_ll);
    // The text as it stands in its image: a number at the end of the half.
    if (op->operand_ll != 0 && op->operand != nullptr) {
        const char* at =
            op->operand_type == DOK_NUMBER ? op->operand + OPERANDLL - op->operand_ll : op->operand;
        PRINT('t', "pde3830", "Decode_op->operator = %.*s\n", static_cast<int>(op->operand_ll), at);
    } else {
        PRINT('t', "pde3835", "No operand\n");
    }
    PRINT('t', "pde3835", "Decode_op->operand_column = %s\n", op->operand_column);
    PRINT('t', "pde3840", "Decode_op->replacement_type = %d\n", op->replacement_type);
    PRINT('t', "pde3845", "Decode_op->replacement_ll = %d\n", op->replacement_ll);
    if (op->replacement_ll != 0) {
        const char* at = op->replacement_type == DRK_NUMBER
                             ? op->replacement + OPERANDLL - op->replacement_ll
                             : op->replacement;
        PRINT('t', "pde3850", "Decode_op->replacement = %.*s\n",
              static_cast<int>(op->replacement_ll), at);
    } else {
        PRINT('t', "pde3855", "No replacement\n");
    }
    PRINT('t', "pde3860", "Decode_op->replacement_column = %s\n", op->replacement_column);
    if (op->and_ != nullptr)
        PRINT('t', "pde3865", "Has and text\n");
    else
        PRINT('t', "pde3870", "Has no and text\n");
    PRINT('t', "pde3875", "Decode_op->curslist = %d\n", op->curslist != nullptr ? 1 : 0);
}

}  // namespace

char* parse_and(and_part** head, char* position, char* end) {
    char* pos = position;
    int32_t n = clause_next_word(&pos, end);
    int16_t op = n > 0 ? decode_operator(parse_word.text, n, position, and_ids)
                       : (PRINT('e', "pde3930", "Invalid decode operator in %s\n", position), 0);
    if (op == 0) return nullptr;

    if (clause_next_word(&pos, end) == 0) {
        PRINT('e', "pde3940", "Invalid text after operator in %s\n", position);
        return nullptr;
    }
    value_word v;
    int32_t andee = 0;
    if (op == DOP_AND_MASK) {
        if (!word_is_number()) {
            PRINT('e', "pde3945", "And operator (&) requires numeric constant\n");
            return nullptr;
        }
        andee = word_integer(parse_word.text, parse_word.len);
    }
    if (!read_value(v, "pde3951", "pde3950", "Column name length excessive in %s\n", position))
        return nullptr;

    auto* a = clause_new<and_part>();
    a->operatr = op;
    a->operand_type = v.kind;
    a->andee = static_cast<int16_t>(andee);
    a->operand = static_cast<char*>(U_MALLOC(OPERANDLL));
    std::memset(a->operand, ' ', OPERANDLL);
    if (v.kind == DOK_COLUMN) {
        copy_field(a->operand_column, sizeof(a->operand_column), v.column.data(), v.column.size());
    } else {
        a->operand_ll = static_cast<int16_t>(v.len);
        if (v.kind == DOK_NUMBER) a->op_num = v.num;
        fill_half(a->operand, v);
    }
    chain_append(head, a);
    return pos;
}

namespace {

// One decode rule as it is read, before it becomes a decode_op.
struct rule_reading {
    std::string column;
    int16_t op = 0;
    value_word operand;
    value_word replacement;
    int32_t andee = 0;
    int16_t operand_ll = 0;
    and_part* ands = nullptr;  // owned until the rule is built
};

// The column word and the operator word. False after a message.
bool read_column_and_operator(rule_reading& r, char** pos, char* end, const char* text) {
    int32_t n = clause_next_word(pos, end);
    if (n == 0) {
        PRINT('e', "pde3740", "Bad decode syntax : %s\n", text);
        return false;
    }
    if (n > 49) {
        PRINT('e', "pde3745", "Column name too long (%d) in %s\n", static_cast<int>(n), text);
        return false;
    }
    r.column = clause_word_text();
    n = clause_next_word(pos, end);
    if (n == 0)
        PRINT('e', "pde3775", "Invalid decode operator in %s\n", text);
    else
        r.op = decode_operator(parse_word.text, n, text, rule_ids);
    return r.op != 0;
}

// The operand word (for NULL and DEFAULT: the replacement). False after a message.
bool read_operand(rule_reading& r, char** pos, char* end, const char* text) {
    if (clause_next_word(pos, end) == 0) {
        PRINT('e', "pde3780", "Invalid text after operator in %s\n", text);
        return false;
    }
    if (r.op == DOP_AND_MASK) {
        if (!word_is_number()) {
            PRINT('e', "pde3785", "And operator (&) requires numeric constant\n");
            return false;
        }
        r.andee = word_integer(parse_word.text, parse_word.len);
        r.operand.kind = DOK_NUMBER;
        r.operand_ll = parse_word.len;
    } else {
        if (!read_value(r.operand, "pde3786", "pde3790", "Column name length excessive in %s\n",
                        text))
            return false;
        if (r.operand.kind == DOK_COLUMN && r.op == DOP_IN) r.operand.kind = DOK_IN_LIST;
        if (r.operand.kind != DOK_COLUMN && r.operand.kind != DOK_IN_LIST)
            r.operand_ll = static_cast<int16_t>(r.operand.len);
    }
    if (r.op == DOP_NULL || r.op == DOP_DEFAULT) {
        r.replacement = r.operand;
        r.operand = value_word{};
        r.operand_ll = 0;
    }
    return true;
}

// The AND parts, the separator ("," or RUN) and the replacement. False after a message;
// the AND parts read so far stay in r.ands.
bool read_ands_and_replacement(rule_reading& r, char** pos, char* end, const char* text) {
    int32_t n = clause_next_word(pos, end);
    while (n > 0 && word_is(parse_word.text, n, "and", "AND")) {
        *pos = parse_and(&r.ands, *pos, end);
        if (*pos == nullptr) return false;
        n = clause_next_word(pos, end);
    }
    if (n == 0) {
        PRINT('e', "pde3795", "Bad decode syntax : %s\n", text);
        return false;
    }
    bool run = false;
    if (word_is(parse_word.text, n, "run", "RUN")) {
        run = true;
    } else if (!(n == 1 && (parse_word.flags & PW_COMMA) != 0)) {
        PRINT('e', "pde3800", "Bad decode syntax : %s\n", text);
        return false;
    }
    // A separator with nothing after it is as bad as a missing separator.
    if (clause_next_word(pos, end) == 0) {
        PRINT('e', "pde3795", "Bad decode syntax : %s\n", text);
        return false;
    }
    if (!read_value(r.replacement, "pde3806", "pde3805",
                    "Replacement Column name length excessive in %s\n", text))
        return false;
    if (r.replacement.kind == DOK_COLUMN && run) r.replacement.kind = DRK_RUN;
    return true;
}

// The rule with its image block; takes r.ands.
decode_op* build_rule(rule_reading& r) {
    auto* d = clause_new<decode_op>();
    char* block = static_cast<char*>(U_MALLOC(2 * OPERANDLL));
    std::memset(block, ' ', 2 * OPERANDLL);
    d->operatr = r.op;
    d->operand_type = r.operand.kind;
    d->operand_ll = r.operand_ll;
    d->andee = r.andee;
    const value_word& operand = r.operand;
    if (r.op != DOP_AND_MASK && operand.kind != 0) {
        d->operand = block;
        fill_half(block, operand);
        if (operand.kind == DOK_NUMBER) d->op_num = operand.num;
        if (operand.kind == DOK_COLUMN || operand.kind == DOK_IN_LIST)
            copy_field(d->operand_column, sizeof(d->operand_column), operand.column.data(),
                       operand.column.size());
    }
    const value_word& replacement = r.replacement;
    d->replacement = block + OPERANDLL;
    d->replacement_type = replacement.kind;
    if (replacement.kind == DRK_NUMBER || replacement.kind == DRK_STRING) {
        d->replacement_ll = static_cast<int16_t>(replacement.len);
        fill_half(block + OPERANDLL, replacement);
    } else {
        copy_field(d->replacement_column, sizeof(d->replacement_column), replacement.column.data(),
                   replacement.column.size());
    }
    d->and_ = r.ands;
    r.ands = nullptr;
    return d;
}

// Files the rule under the column's decode, or under a new decode for the column.
void file_rule(curs* cursor, const std::string& column, decode_op* d) {
    char name[50] = {};
    copy_field(name, sizeof(name), column.data(), column.size());
    decode* dec = cursor->decode;
    while (dec != nullptr && std::memcmp(dec->col_name, name, sizeof(name)) != 0) dec = dec->next;
    if (dec == nullptr) {
        dec = clause_new<decode>();
        std::memcpy(dec->col_name, name, sizeof(name));
        chain_append(&cursor->decode, dec);
    }
    chain_append(&dec->decode_op, d);
}

}  // namespace

int parse_decode(curs* cursor, char* text) {
    char* end = clause_end(text);
    char* pos = text;
    rule_reading r;
    if (!read_column_and_operator(r, &pos, end, text) || !read_operand(r, &pos, end, text))
        return 1;
    if (r.op != DOP_NULL && r.op != DOP_DEFAULT && !read_ands_and_replacement(r, &pos, end, text)) {
        free_and_parts(r.ands);
        return 1;
    }
    decode_op* d = build_rule(r);
    if (cursor->traced) trace_rule(d);
    file_rule(cursor, r.column, d);
    return 0;
}

void free_decode_chain(decode* d) {
    while (d != nullptr) {
        decode* next = d->next;
        for (decode_op* op = d->decode_op; op != nullptr;) {
            decode_op* n = op->next;
            // The image block starts OPERANDLL bytes before the replacement image.
            if (op->replacement != nullptr) U_FREE(op->replacement - OPERANDLL);
            free_and_parts(op->and_);
            if (op->curslist != nullptr) U_FREE(op->curslist);
            U_FREE(op);
            op = n;
        }
        U_FREE(d);
        d = next;
    }
}

void free_curslist(curslist* l) {
    while (l != nullptr) {
        curslist* next = l->next;
        U_FREE(l);
        l = next;
    }
}
