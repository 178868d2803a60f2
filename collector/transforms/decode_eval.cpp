// Decode conditions: one evaluation of a rule chain against one value.
#include "collector/transforms/decode_eval.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>

#include "collector/rows/column_lookup.h"
#include "collector/rows/row_store.h"
#include "collector/transforms/bases.h"
#include "collector/transforms/in_list_entry.h"
#include "defs/clause_decode.h"
#include "defs/clause_loads.h"
#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/msg.h"

namespace {

constexpr int kMax = decode_value_max;

// Bits of decode_op::set on a chain's first rule or on any rule.
constexpr int16_t kDescribed = 1;    // first rule: the chain was described (traced) once
constexpr int16_t kUnboundSaid = 2;  // this rule: its unbound operand was reported

// The value under test, converted once per call.
struct left_side {
    bool numeric = false;
    int len = 0;  // characters of the value taken, at most kMax
    int L = 0;    // comparison length; a wider right-hand column widens it for the call
    char buf[kMax + 1];
    bool num_done = false;
    bool num_ok = false;  // the value reads as a number
    double num = 0.0;

    // The value as a number. A numeric column reads as the atof of the text after its
    // leading blanks (an empty value is 0); a character column must hold a number and
    // nothing else but blanks.
    bool number(double& out) {
        if (!num_done) {
            num_done = true;
            const char* p = buf;
            while (*p == ' ') ++p;
            char* end = nullptr;
            num = std::strtod(p, &end);
            if (numeric) {
                num_ok = true;
            } else {
                const char* stop = buf + len;
                const char* q = end;
                while (q < stop && *q == ' ') ++q;
                num_ok = end != p && q >= stop;
            }
        }
        out = num;
        return num_ok;
    }
};

// A rule or an AND part, as far as one test needs it.
struct condition {
    int16_t op = 0;
    int16_t type = 0;
    double op_num = 0.0;
    int16_t operand_ll = 0;
    const char* operand = nullptr;  // string image, left-aligned in its half
    const char* operand_column = "";
    columns* op_col = nullptr;
    curs* op_curs = nullptr;
    in_list* list = nullptr;
    int32_t andee = 0;
    bool and_part = false;
};

condition of(const decode_op* d) {
    condition k;
    k.op = d->operatr;
    k.type = d->operand_type;
    k.op_num = d->op_num;
    k.operand_ll = d->operand_ll;
    k.operand = d->operand;
    k.operand_column = d->operand_column;
    k.op_col = d->op_col;
    k.op_curs = d->op_curs;
    k.list = d->in_list;
    k.andee = d->andee;
    return k;
}

condition of(const and_part* a) {
    condition k;
    k.op = a->operatr;
    k.type = a->operand_type;
    k.op_num = a->op_num;
    k.operand_ll = a->operand_ll;
    k.operand = a->operand;
    k.operand_column = a->operand_column;
    k.op_col = a->op_col;
    k.op_curs = a->op_curs;
    k.list = a->in_list;
    k.andee = a->andee;
    k.and_part = true;
    return k;
}

int sign(double d) { return d > 0 ? 1 : (d < 0 ? -1 : 0); }

bool holds(int16_t op, int r) {
    switch (op) {
        case DOP_EQ:
        case DOP_SEARCH:
        case DOP_IN:
            return r == 0;
        case DOP_GT:
            return r > 0;
        case DOP_LT:
            return r < 0;
        case DOP_GE:
            return r >= 0;
        case DOP_LE:
            return r <= 0;
        case DOP_NE:
        case DOP_AND_MASK:
            return r != 0;
        default:
            return false;
    }
}

// A needle's length once its trailing blanks are cut, never below one character.
int cut_trailing(const char* text, int n) {
    if (n < 1) n = 1;
    while (n > 1 && text[n - 1] == ' ') --n;
    return n;
}

// 0 when the value contains the needle, else 1.
int contains(const left_side& left, const char* needle, int n) {
    std::string_view hay(left.buf, left.numeric ? strnlen(left.buf, kMax) : left.len);
    return hay.find(std::string_view(needle, static_cast<size_t>(n))) != std::string_view::npos ? 0
                                                                                                : 1;
}

int32_t to_int32(double d) {
    if (!(d == d)) return 0;
    if (d >= 2147483647.0) return INT32_MAX;
    if (d <= -2147483648.0) return INT32_MIN;
    return static_cast<int32_t>(d);  // truncates toward zero
}

// Writes the one report of a rule whose operand no pass bound.
void say_unbound(decode_op* rule, const condition& k, const columns* col, const curs* c) {
    if ((rule->set & kUnboundSaid) != 0) return;
    rule->set = static_cast<int16_t>(rule->set | kUnboundSaid);
    PRINT('w', "cde4366",
          "Decode of column %s in cursor %s: operand %s is not bound - the rule does not hold\n",
          col->col_name, c != nullptr ? c->cur_name : "", k.operand_column);
}

struct evaluation_state {
    columns* col;
    char* row;
    curs* c;
    bool traced;
};

enum test_result { kFails = 0, kHolds = 1, kAbort = -1 };

test_result result_of(const condition& k, int r) { return holds(k.op, r) ? kHolds : kFails; }

// Where the operand column's value stands: in the row under test, or in the last row (the
// base row with a base) of the column's own cursor. Null when there is none, with what the
// test then gives in *stop.
const char* operand_column_text(const condition& k, const evaluation_state& s, test_result* stop) {
    *stop = kFails;
    if (k.op_curs == nullptr) return s.row != nullptr ? s.row + k.op_col->offset : nullptr;
    *stop = kAbort;
    if (s.c != nullptr && k.op_curs == s.c->age_to && s.c->post_age != 0) {
        if (s.traced) PRINT('t', "cde4360", "Skipping decode - refers to age_to cursor\n");
        return nullptr;
    }
    const char* src = nullptr;
    if (s.c != nullptr && s.c->base != nullptr)
        src = locate_base(k.op_curs, s.c, k.op_col->offset);
    else if (k.op_curs->last_row != nullptr)
        src = k.op_curs->last_row->text + k.op_col->offset;
    if (src != nullptr) return src;
    const char* id = k.and_part ? "cde4385" : "cde4365";
    if (decode_warn_first(s.c, id)) {
        if (k.and_part)
            PRINT('w', id, "In decode, referenced cursor %s has no rows - skipping decode\n",
                  k.op_curs->cur_name);
        else
            PRINT('w', id, "Decode, referenced cursor %s has no rows - skipping decode\n",
                  k.op_curs->cur_name);
    }
    return nullptr;
}

// The value against another column's value.
test_result column_condition(const condition& k, left_side& left, decode_op* rule,
                             const evaluation_state& s) {
    if (k.op_col == nullptr) {
        say_unbound(rule, k, s.col, s.c);
        return kFails;
    }
    test_result stop = kFails;
    const char* src = operand_column_text(k, s, &stop);
    if (src == nullptr) return stop;
    int rlen = k.op_col->len < 0 ? 0 : (k.op_col->len > kMax ? kMax : k.op_col->len);
    char right[kMax + 1];
    std::memset(right, left.numeric ? '\0' : ' ', sizeof right);
    std::memcpy(right, src, static_cast<size_t>(rlen));
    right[kMax] = '\0';
    if (s.traced) {
        if (k.and_part)
            PRINT('t', "cde4390", "For decode, column %s has value '%.*s'(%d)\n", k.operand_column,
                  rlen, right, rlen);
        else
            PRINT('t', "cde4370", "For decode, right column %s has value '%.*s'\n",
                  k.operand_column, rlen, right);
    }
    if (k.op == DOP_SEARCH) return result_of(k, contains(left, right, cut_trailing(right, rlen)));
    if (left.numeric) {
        const char* p = right;
        while (*p == ' ') ++p;
        double l = 0;
        left.number(l);
        return result_of(k, sign(l - std::strtod(p, nullptr)));
    }
    if (rlen > left.L) left.L = rlen;
    return result_of(k, std::memcmp(left.buf, right, static_cast<size_t>(left.L)));
}

// The value among the entries of an in_list.
test_result in_list_condition(const condition& k, const left_side& left, decode_op* rule,
                              const evaluation_state& s) {
    if (k.list == nullptr) {
        say_unbound(rule, k, s.col, s.c);
        return kFails;
    }
    char key[in_list_entry_size(kMax) + 2];
    if (left.numeric) {
        // Entries of a numeric list are the stored texts between blanks, whatever the
        // source's width: the key is the value without its leading blanks.
        int i = 0;
        while (i < left.L && left.buf[i] == ' ') ++i;
        int n = static_cast<int>(strnlen(left.buf + i, static_cast<size_t>(left.L - i)));
        key[0] = ' ';
        if (n == 0) {
            key[1] = '0';
            n = 1;
        } else {
            std::memcpy(key + 1, left.buf + i, static_cast<size_t>(n));
        }
        key[n + 1] = ' ';
        key[n + 2] = '\0';
    } else {
        in_list_entry(key, left.buf, left.len, false);
    }
    return result_of(
        k, (k.list->text != nullptr && std::strstr(k.list->text, key) != nullptr) ? 0 : 1);
}

// The value as a number against a numeric constant (or its bits against a mask).
test_result number_condition(const condition& k, left_side& left) {
    double l = 0;
    if (!left.number(l)) return kFails;
    if (k.op == DOP_AND_MASK) return result_of(k, to_int32(l) & k.andee);
    return result_of(k, sign(l - k.op_num));
}

// The value against a quoted string.
test_result string_condition(const condition& k, const left_side& left) {
    if (k.operand == nullptr) return kFails;
    int ll = k.operand_ll > kMax ? kMax : k.operand_ll;
    if (k.op == DOP_SEARCH)
        return result_of(k, contains(left, k.operand, cut_trailing(k.operand, ll)));
    return result_of(k, std::memcmp(left.buf, k.operand, static_cast<size_t>(left.L)));
}

// Whether one condition (a rule or an AND part) holds for the value; kAbort when the
// decode is skipped for the row.
test_result condition_holds(const condition& k, left_side& left, decode_op* rule,
                            const evaluation_state& s) {
    switch (k.type) {
        case DOK_COLUMN:
            return column_condition(k, left, rule, s);
        case DOK_IN_LIST:
            return in_list_condition(k, left, rule, s);
        case DOK_NUMBER:
            return number_condition(k, left);
        case DOK_STRING:
            return string_condition(k, left);
        default:
            return kFails;
    }
}

const char* phrase(int16_t op) {
    switch (op) {
        case DOP_EQ:
            return " Is equal to ";
        case DOP_GT:
            return " Is greater than ";
        case DOP_LT:
            return " Is less than ";
        case DOP_NULL:
            return " Is NULL ";
        case DOP_DEFAULT:
            return " Is none of the above ";
        case DOP_GE:
            return " Is greater than or equal to ";
        case DOP_LE:
            return " Is less than or equal to ";
        case DOP_NE:
            return " Is not equal to ";
        case DOP_SEARCH:
            return " Contains ";
        case DOP_IN:
            return " In ";
        case DOP_AND_MASK:
            return " Anded with ";
        default:
            return "????????????????";
    }
}

// The operator phrase and its operand, as the traces show a condition.
void describe(char* out, size_t cap, const condition& k, int width) {
    if (k.op == DOP_AND_MASK) {
        std::snprintf(out, cap, "%s%d", phrase(k.op), static_cast<int>(k.andee));
    } else if (k.type == DOK_COLUMN || k.type == DOK_IN_LIST) {
        std::snprintf(out, cap, "%s'%s'", phrase(k.op), k.operand_column);
    } else if (k.type == DOK_NUMBER && k.operand != nullptr) {
        std::snprintf(out, cap, "%s'%.*s'", phrase(k.op), width, k.operand + kMax - width);
    } else if (k.type == DOK_STRING && k.operand != nullptr) {
        std::snprintf(out, cap, "%s'%.*s'", phrase(k.op), width, k.operand);
    } else {
        std::snprintf(out, cap, "%s", phrase(k.op));
    }
}

void describe_chain(const columns* col, decode_op* first) {
    int width = col->len < 0 ? 0 : (col->len > kMax ? kMax : col->len);
    PRINT('t', "cde4230", "Decodes for column %s(%d,%d)\n", col->col_name,
          static_cast<int>(col->offset), static_cast<int>(col->len));
    char text[400];
    for (decode_op* d = first; d != nullptr; d = d->next) {
        describe(text, sizeof text, of(d), width);
        PRINT('t', "cde4235", "if %s %.150s\n", col->col_name, text);
        for (and_part* a = d->and_; a != nullptr; a = a->next) {
            describe(text, sizeof text, of(a), width);
            PRINT('t', "cde4250", " and %.150s\n", text);
        }
        if (d->replacement_type == DRK_COLUMN || d->replacement_type == DRK_RUN) {
            const columns* rc = d->rep_col;
            PRINT('t', "cde4270", " Replace it with  column %s (%d,%d)\n", d->replacement_column,
                  rc != nullptr ? static_cast<int>(rc->offset) : 0,
                  rc != nullptr ? static_cast<int>(rc->len) : 0);
        } else if (d->replacement != nullptr) {
            const char* at =
                d->replacement_type == DRK_NUMBER ? d->replacement + kMax - width : d->replacement;
            PRINT('t', "cde4260", " Replace it with '%.*s'\n", width, at);
        }
    }
}

// Per-row warnings counted in the current run.
struct warning_count {
    char cursor[9];
    const char* id;
    int32_t more;
};
std::vector<warning_count>& warning_counts() {
    static std::vector<warning_count> counts;
    return counts;
}

}  // namespace

bool decode_warn_first(const curs* c, const char* id) {
    char name[9] = {};
    if (c != nullptr) std::memcpy(name, c->cur_name, sizeof name - 1);
    for (warning_count& w : warning_counts()) {
        if (std::strcmp(w.id, id) == 0 && std::memcmp(w.cursor, name, sizeof name) == 0) {
            ++w.more;
            return false;
        }
    }
    warning_count w{};
    std::memcpy(w.cursor, name, sizeof name);
    w.id = id;
    warning_counts().push_back(w);
    return true;
}

void decode_warnings_report() {
    for (const warning_count& w : warning_counts())
        if (w.more > 0)
            PRINT('w', "cde4430", "%d more rows of cursor %s skipped a decode (%s)\n",
                  static_cast<int>(w.more), w.cursor, w.id);
    warning_counts().clear();
}

decode_op* eval_decode(columns* col, char* value, char* row, int indicator, curs* c,
                       decode_op* first) {
    if (col == nullptr || value == nullptr || first == nullptr) return nullptr;
    evaluation_state s{col, row, c, c != nullptr && c->traced != 0};

    if ((first->set & kDescribed) == 0) {
        first->set = static_cast<int16_t>(first->set | kDescribed);
        if (s.traced) describe_chain(col, first);
    } else if (s.traced) {
        PRINT('t', "cde4345", "Decoding for column %s(%d,%d)\n", col->col_name,
              static_cast<int>(col->offset), static_cast<int>(col->len));
    }

    if (indicator < 0) {
        for (decode_op* d = first; d != nullptr; d = d->next) {
            if (d->operatr == DOP_NULL) {
                if (s.traced)
                    PRINT('t', "cde4350", "Replacing %s with NULL option\n", col->col_name);
                return d;
            }
        }
    }

    left_side left;
    left.numeric = col->orig_type == 2;
    left.len = col->len < 0 ? 0 : (col->len > kMax ? kMax : col->len);
    left.L = left.len;
    std::memset(left.buf, left.numeric ? '\0' : ' ', sizeof left.buf);
    std::memcpy(left.buf, value, static_cast<size_t>(left.len));
    left.buf[kMax] = '\0';

    decode_op* fallback = nullptr;
    int visit = 0;
    for (decode_op* d = first; d != nullptr; d = d->next) {
        if (s.traced) PRINT('t', "cde4355", " Decode loop:%d\n", ++visit);
        if (d->operatr == DOP_DEFAULT) {
            fallback = d;
            continue;
        }
        if (d->operatr == DOP_NULL) continue;
        test_result t = condition_holds(of(d), left, d, s);
        if (t == kAbort) return nullptr;
        if (t == kFails) continue;
        bool all = true;
        for (and_part* a = d->and_; a != nullptr && all; a = a->next) {
            t = condition_holds(of(a), left, d, s);
            if (t == kAbort) return nullptr;
            all = t == kHolds;
        }
        if (all) return d;
    }
    return fallback;
}
