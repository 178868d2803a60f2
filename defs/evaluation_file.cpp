// Reading the evaluation file.
//
// Before the first eval statement only eval is accepted; then one evaluation is open at a
// time and reaches its cursor when the next eval or end statement closes it. The first
// value error marks the parse failed and the words of later value statements are skipped;
// a missing required field stops the reading; an evaluation whose cursor does not exist is
// reported and dropped on its own, and the evaluations after it are still read.
#include "defs/evaluation_file.h"

#include <cstdlib>
#include <cstring>
#include <string>

#include "defs/def_keywords.h"
#include "defs/evaluation.h"
#include "defs/parse_support.h"
#include "defs/tokenizer.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

namespace {

enum {
    EW_EVAL = 1,
    EW_VALUE = 2,
    EW_CURSOR = 3,
    EW_COLUMN = 4,
    EW_OPERATOR = 5,
    EW_NAME = 6,
    EW_END = 7
};

constexpr int32_t max_eval_name = static_cast<int32_t>(sizeof(evaluation::eval_name)) - 1;

struct eval_parse : def_block_parse {
    evaluation* open = nullptr;  // the evaluation being read
    bool skip_values = false;    // a value error was reported: later values are skipped
    int32_t closed = 0;          // evaluations that passed the closing checks
};

void free_eval(evaluation* e) {
    if (e == nullptr) return;
    U_FREE(e->string);
    U_FREE(e);
}

int value_error(eval_parse& p) {
    p.failed = true;
    p.skip_values = true;
    return 1;
}

int rule_value(evaluation* e, const char* word, int32_t n) {
    if (parse_word.num_flags & PN_NUMBER) {
        // The tokenizer keeps blanks before an exponent inside the word.
        std::string number;
        for (int32_t i = 0; i < n; ++i) {
            char c = word[i];
            if (c == ' ') continue;
            number += european != 0 && c == ',' ? '.' : c;
        }
        e->val_type = EVAL_NUMERIC;
        e->value = std::strtod(number.c_str(), nullptr);
    } else {
        e->val_type = EVAL_TEXT;
    }
    if (n >= 2 && (word[0] == '\'' || word[0] == '"')) {
        ++word;
        n -= 2;
    }
    U_FREE(e->string);
    e->string = static_cast<char*>(U_MALLOC(n + 1));
    std::memcpy(e->string, word, static_cast<size_t>(n));
    e->string[n] = '\0';
    e->string_ll = static_cast<int16_t>(n);
    return 0;
}

int rule_column(eval_parse& p, evaluation* e, const char* word, int32_t n) {
    if (e->col_name[0] != '\0') {
        PRINT('e', "pev1365", "Duplicate Column Name %s\n", e->col_name);
        return value_error(p);
    }
    static const struct {
        const char* upper;
        const char* lower;
        int32_t function;
    } prefixes[] = {
        {"AVG!", "avg!", COLF_AVG},       {"SUM!", "sum!", COLF_SUM},
        {"MIN!", "min!", COLF_MIN},       {"MAX!", "max!", COLF_MAX},
        {"WAVG!", "wavg!", COLF_WAVG},    {"TREND!", "trend!", COLF_TREND},
        {"HW!", "hw!", COLF_HIGH_WATER},  {"LW!", "lw!", COLF_LOW_WATER},
        {"COUNT!", "count!", COLF_COUNT},
    };
    for (const auto& pre : prefixes) {
        int32_t len = static_cast<int32_t>(std::strlen(pre.upper));
        if (n >= len && (std::memcmp(word, pre.upper, static_cast<size_t>(len)) == 0 ||
                         std::memcmp(word, pre.lower, static_cast<size_t>(len)) == 0)) {
            e->col_function = pre.function;
            word += len;
            n -= len;
            break;
        }
    }
    if (n > static_cast<int32_t>(sizeof(e->col_name)) - 1) {
        PRINT('e', "pev1370", "Column Name too long\n");
        return value_error(p);
    }
    std::memcpy(e->col_name, word, static_cast<size_t>(n));
    e->col_name[n] = '\0';
    e->col_name_ll = static_cast<int16_t>(n);
    return 0;
}

int operator_flag(char c) {
    switch (c) {
        case '<':
            return EVAL_LESS;
        case '=':
            return EVAL_EQUAL;
        case '>':
            return EVAL_GREATER;
        default:
            return -1;
    }
}

int rule_operator(eval_parse& p, evaluation* e, const char* word, int32_t n) {
    const char* id = nullptr;
    if (n == 1) {
        if (operator_flag(word[0]) < 0) id = "pev1320";
    } else if (n == 2) {
        if (operator_flag(word[0]) < 0)
            id = "pev1325";
        else if (operator_flag(word[1]) < 0)
            id = "pev1330";
    } else {
        id = "pev1335";
    }
    if (id != nullptr) {
        PRINT('e', id, "Invalid operator\n");
        return value_error(p);
    }
    for (int32_t i = 0; i < n; ++i) e->operatr[operator_flag(word[i])] = 1;
    return 0;
}

int value_rule(eval_parse& p, int code, const char* word, int32_t n) {
    evaluation* e = p.open;
    switch (code) {
        case EW_VALUE:
            return rule_value(e, word, n);
        case EW_CURSOR:
            if (e->cur_name[0] != '\0') {
                PRINT('e', "pev1355", "Duplicate Cursor Name\n");
                return value_error(p);
            }
            if (n > static_cast<int32_t>(sizeof(e->cur_name)) - 1) {
                PRINT('e', "pev1360", "Excessive length on Cursor Name\n");
                return value_error(p);
            }
            std::memcpy(e->cur_name, word, static_cast<size_t>(n));
            return 0;
        case EW_COLUMN:
            return rule_column(p, e, word, n);
        case EW_OPERATOR:
            return rule_operator(p, e, word, n);
        case EW_NAME:
            if (e->eval_name[0] != '\0') {
                PRINT('e', "pev1310", "Duplicate evaluation name\n");
                return value_error(p);
            }
            if (n > max_eval_name) {
                PRINT('e', "pev1315", "Excessive length on evaluation name\n");
                return value_error(p);
            }
            std::memcpy(e->eval_name, word, static_cast<size_t>(n));
            return 0;
        default:
            return 0;
    }
}

void value_statement(eval_parse& p, int code) {
    int rc = def_value_words(
        p.end, "pev1305", "pev1375",
        [&](const char* word, int32_t n, int32_t*) { return value_rule(p, code, word, n); });
    if (rc == 1) value_error(p);
    if (rc == 2) p.failed = p.stop = true;
}

// Closes the open evaluation: the checks, then it joins its cursor's chain.
void close_eval(eval_parse& p) {
    evaluation* e = p.open;
    if (e == nullptr) return;
    p.open = nullptr;
    bool bad = false;
    if (e->eval_name[0] == '\0') {
        PRINT('e', "pev1275", "No Evaluation name\n");
        bad = true;
    }
    if (e->cur_name[0] == '\0') {
        PRINT('e', "pev1280", "No Cursor name\n");
        bad = true;
    }
    if (e->operatr[EVAL_LESS] == 0 && e->operatr[EVAL_EQUAL] == 0 &&
        e->operatr[EVAL_GREATER] == 0) {
        PRINT('e', "pev1285", "No Operator\n");
        bad = true;
    }
    if (e->val_type == EVAL_NO_VALUE) {
        PRINT('e', "pev1290", "No Value specified\n");
        bad = true;
    }
    if (e->col_name_ll == 0) {
        PRINT('e', "pev1295", "No Column name\n");
        bad = true;
    }
    if (bad) {
        p.failed = p.stop = true;
        free_eval(e);
        return;
    }
    e->ordinal = ++p.closed;
    if (curs* c = find_cursor(e->cur_name)) {
        e->next = c->evaluation;
        c->evaluation = e;
        // The evaluation does not mark its cursor as having column functions: the
        // evaluator computes its own over the rows, and a marked cursor would answer
        // every requester with one made-up summary row instead of its rows.
        return;
    }
    PRINT('e', "pev1230", "Cursor named %s not found\n", e->cur_name);
    p.failed = true;
    free_eval(e);
}

// Opens an evaluation for the word that follows eval (or end); no word ends the reading.
void open_eval(eval_parse& p) {
    int32_t n = def_block_name(p, "pev1305", max_eval_name, [](int32_t) {
        PRINT('e', "pev1300", "Excessive length on evaluation name\n");
    });
    if (n == 0) return;
    auto* e = static_cast<evaluation*>(U_MALLOC(sizeof(evaluation)));
    std::memset(e, 0, sizeof(evaluation));
    std::memcpy(e->eval_name, parse_word.text, static_cast<size_t>(n));
    p.open = e;
}

constexpr def_block_keys eval_keys = {eval_key_word, "pev1255", "pev1260", EW_EVAL,
                                      EW_END,        "eval",    "pev1265", "pev1270"};

void statement(eval_parse& p) {
    def_block_statement(
        p, eval_keys, [&] { close_eval(p); }, [&] { open_eval(p); },
        [&](int code) {
            if (!p.skip_values) value_statement(p, code);
        });
}

}  // namespace

int parse_eval_file(FILE* input) {
    eval_parse p;
    def_read_blocks(input, "pev1250", "pev1251", p, [&] { statement(p); });
    free_eval(p.open);  // no closing eval or end statement: dropped
    return p.failed ? 1 : 0;
}

int parse_eval() { return def_parse_named("eval", parse_eval_file, 1); }
