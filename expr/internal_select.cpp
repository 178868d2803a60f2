#include "expr/internal_select.h"

#include <cstring>
#include <vector>

#include "expr/condition_plan.h"
#include "expr/interpreter.h"
#include "expr/lexer.h"
#include "expr/operation_table.h"
#include "expr/row_index.h"
#include "expr/select_cursor.h"
#include "expr/select_mode.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

namespace {

// The bracket's term table; term_tb_invalid() outside a bracket.
TERM_TABLE* sql_term_tb_anchor = term_tb_invalid();
// The parsed select list and condition of the last perform_select.
lex_block lxb_l = {};
lex_block lxb_w = {};
const char row_func_arg[] = ",rfa";

// Set while perform_select has already reported one row it had to ignore: the messages of
// further rows are folded into one summary line.
bool quiet_rows = false;

// The condition of the running perform_select compiled for its cursor (the interpreter
// writes its trace lines per term, so a trace at its level keeps every row on it).
condition_plan where_plan;
constexpr int EXPR_TRACE_LEVEL = 8;

// The rows of the cursors the selects read, by the columns their conditions require equal
// to a text; kept from bracket to bracket while the cursor holds the same rows, so that the
// monitor cursors of one pass index SYSMON's rows once between them.
row_index kept_rows;

// The rows a planned condition can take, oldest first, when an equality it requires narrows
// them; null when every row must be read. Rows it skips are exactly those whose field
// differs from the required text, on which the plan answers 0, and none of them may be one
// the interpreter would write a message for (a compared field empty).
const std::vector<row_data*>* candidate_rows(curs* c, const condition_plan& plan) {
    condition_plan::Key keys[condition_plan::MAX_KEYS];
    const int n = plan.required_keys(keys, condition_plan::MAX_KEYS);
    if (n == 0) return nullptr;
    const columns* compared[condition_plan::MAX_COLUMNS];
    const int m = plan.compared_columns(compared);
    for (int i = 0; i < m; ++i)
        if (kept_rows.has_empty(c, compared[i])) return nullptr;
    const std::vector<row_data*>* best = nullptr;
    for (int i = 0; i < n; ++i) {
        const std::vector<row_data*>& rows =
            kept_rows.rows_with(c, keys[i].col, keys[i].text, keys[i].len);
        if (!best || rows.size() < best->size()) best = &rows;
    }
    return best;
}

int rpn_entries(const LEXEME* rpn) {
    int n = 0;
    while (rpn[n]) ++n;
    return n;
}

// Binds the plain names of a freshly lexed array that are columns of the cursor, as the
// interpreter would at the first row. Until then a name term is shared by every text that
// names it, and a text lexed for another cursor must not take this cursor's binding.
void bind_cursor_names(LEXEME* rpn, curs* c) {
    if (!c) return;
    for (int i = 0; rpn[i]; ++i) {
        if (lexeme_type_of(rpn[i]) != LEX_TERM) continue;
        TERM_TABLE* t = as_term(rpn[i]);
        if (t->term_type != TERM_NAME || t->value_ref != nullptr || t->work_flag != 0 ||
            t->name[0] == '%')
            continue;
        columns* col = select_lookup_column(c, t->name);
        if (!col) continue;
        // The value is read at evaluation, through the binding.
        t->value_ref = &col->from;
        t->term_type = TERM_COLUMN;
        std::strncpy(t->cursor_name, c->cur_name, sizeof t->cursor_name - 1);
        t->cursor_name[sizeof t->cursor_name - 1] = '\0';
    }
}

// Releases a result term of the interpreter, keeping it for reuse.
void release_result(TERM_TABLE** held) {
    if (*held) free_work_chain(held, nullptr, 1);
    *held = nullptr;
}

// The held result term of one perform_select, released on every path out.
class held_result {
  public:
    held_result() = default;
    ~held_result() { release_result(&term); }
    held_result(const held_result&) = delete;
    held_result& operator=(const held_result&) = delete;
    TERM_TABLE* term = nullptr;
};

void copy_rpn(LEXEME* work, const LEXEME* rpn, int bytes) {
    std::memcpy(static_cast<void*>(work), static_cast<const void*>(rpn),
                static_cast<size_t>(bytes));
}

bool text_too_long(const char* text) { return strnlen(text, SEL_TEXT_MAX + 1) > SEL_TEXT_MAX; }

}  // namespace

[[noreturn]] void select_quitting() {
    quitting(-1);
    u_exit(1);
}

void start_exec_sql(TERM_TABLE* anchor) {
    open_lexer(anchor);
    sql_term_tb_anchor = anchor;
}

void end_exec_sql(TERM_TABLE** anchor) {
    close_lexer(anchor);
    sql_term_tb_anchor = term_tb_invalid();
}

void verify_term_tb_anchor() {
    if (sql_term_tb_anchor != term_tb_invalid()) return;
    PRINT('s', "SEL1010", "SQL-like processing not initialized: quitting\n");
    select_quitting();
}

TERM_TABLE* get_active_term_tb_anchor() {
    TERM_TABLE* lexer_anchor = get_lex_term_tb_anchor();
    return lexer_anchor ? lexer_anchor : sql_term_tb_anchor;
}

const char* get_row_function_arg_part() { return row_func_arg; }

void cleanup_select() {}

void reset_internal_select() {
    kept_rows.clear();
    lxb_l = {};
    lxb_w = {};
    W_EXPR_LIST::get_lx_list().free_w_list();
}

int check_lex_bl(const char* text, const char* cursor_name, B_TYPE kind, lex_block* block) {
    // The block's terms must be the caller's: a parse made on another term table names that
    // table's variables, which hold that caller's values.
    if (block->text && text && std::strcmp(block->text, text) == 0 && block->curs_name &&
        cursor_name && std::strcmp(block->curs_name, cursor_name) == 0 && block->rpn &&
        block->rpn_len > 0 && block->rpn_repl && block->term_tb &&
        block->term_tb == get_active_term_tb_anchor() && block->kind == kind)
        return 1;
    *block = {};
    return 0;
}

namespace {

// True when `block` already holds, or the store gives back, the parse of this text for
// this cursor made on the caller's term table; otherwise `block` holds only the text, cursor
// and kind, ready to parse. A stored parse that cannot be read back is reported under
// `stale_id` and parsed again.
bool reuse_parsed(const char* text, const char* cursor_name, B_TYPE kind, lex_block* block,
                  const char* stale_id) {
    if (check_lex_bl(text, cursor_name, kind, block)) return true;
    // The store matches the term table too: its variables are the caller's own. A table
    // without terms yet holds no parse.
    TERM_TABLE* own = get_active_term_tb_anchor();
    *block = {const_cast<char*>(text), 0, cursor_name, kind, nullptr, 0, nullptr, own};
    if (own == nullptr) return false;
    switch (find_lex_block(block)) {
        case 1:
            return true;
        case 2:
            PRINT('w', stale_id, "Error trying to get a parsed expression: will parse again\n");
            break;
        default:
            break;
    }
    return false;
}

// Keeps a fresh parse in the store; a store that refuses it ends the select.
void store_parsed(lex_block* block, const char* failed_id) {
    if (store_lex_block(block) != 0) {
        PRINT('s', failed_id, "Can not store a lexed block: quitting\n");
        select_quitting();
    }
}

}  // namespace

int ed_parse_sel_list(const char* select_list, const char* cursor_name, lex_block* block) {
    verify_term_tb_anchor();
    if (!select_list || std::strchr(select_list, ';') || text_too_long(select_list)) {
        // The store compares texts up to their first ";", and the lexer stops there.
        PRINT('e', "SEL0131", "Invalid select list %.64s\n", select_list ? select_list : "");
        return 1;
    }
    if (reuse_parsed(select_list, cursor_name, B_COLS, block, "SEL0130")) return 0;
    const size_t n = std::strlen(select_list);
    auto* text = static_cast<char*>(U_MALLOC(n + sizeof row_func_arg));
    std::memcpy(text, select_list, n);
    std::memcpy(text + n, row_func_arg, sizeof row_func_arg);
    const char* p = text;
    LEXEME* parsed = parse_expression(&p);
    if (!parsed) {
        U_FREE(text);
        *block = {};
        return 1;
    }
    bind_cursor_names(parsed, find_cursor(cursor_name));
    // The select list becomes the argument list of ROW, whose last argument "rfa" receives
    // the row.
    const int count = rpn_entries(parsed);
    auto* rpn = static_cast<LEXEME*>(U_MALLOC(sizeof(LEXEME) * static_cast<size_t>(count + 2)));
    std::memcpy(static_cast<void*>(rpn), static_cast<const void*>(parsed),
                sizeof(LEXEME) * static_cast<size_t>(count));
    rpn[count] = to_lexeme(get_row_func_entry());
    rpn[count + 1] = nullptr;
    U_FREE(parsed);
    *block = {text,        0,
              cursor_name, B_COLS,
              rpn,         static_cast<int>(sizeof(LEXEME)) * (count + 2),
              nullptr,     get_active_term_tb_anchor()};
    store_parsed(block, "SEL0138");
    return 0;
}

int parse_where(const char* where, const char* cursor_name, lex_block* block) {
    verify_term_tb_anchor();
    if (text_too_long(where)) {
        PRINT('e', "SEL0141", "Invalid condition %.64s\n", where);
        return 1;
    }
    if (reuse_parsed(where, cursor_name, B_COND, block, "SEL0144")) return 0;
    const char* p = where;
    LEXEME* rpn = parse_expression(&p);
    if (!rpn) {
        *block = {};
        return 1;
    }
    bind_cursor_names(rpn, find_cursor(cursor_name));
    *block = {
        const_cast<char*>(where),   0, cursor_name, B_COND, rpn, calculate_rpn_len(rpn), nullptr,
        get_active_term_tb_anchor()};
    store_parsed(block, "SEL0147");
    return 0;
}

int evaluate_row(curs* c, LEXEME* rpn) {
    verify_term_tb_anchor();
    set_current_cursor(c);
    // Once a row failed, the interpreter's own lines for the rows after it are not written:
    // the first row's lines and the summary say it all.
    const bool was_muted = u_msg_mute(quiet_rows);
    TERM_TABLE* result = interpreter(rpn);
    u_msg_mute(was_muted);
    set_current_cursor(nullptr);
    if (!result) {
        if (!quiet_rows)
            PRINT('e', "SEL0050", "Can not evaluate a row for cursor %s:       may be next time\n",
                  c->cur_name);
        return -1;
    }
    double value = 0.0;
    if (result->num_type == 2) {
        value = static_cast<double>(result->int_val);
    } else if (result->num_type == 3) {
        value = result->dbl_val;
    } else {
        if (!quiet_rows)
            PRINT('e', "SEL0060",
                  "Invalid conditional expression result for         cursor %s: will try next "
                  "time\n",
                  c->cur_name);
        free_work_chain(&result, nullptr, 0);
        return -1;
    }
    free_work_chain(&result, nullptr, 1);
    return value != 0.0 ? 1 : 0;
}

TERM_TABLE* process_row(curs* c, LEXEME* rpn) {
    verify_term_tb_anchor();
    set_current_cursor(c);
    TERM_TABLE* result = interpreter(rpn);
    set_current_cursor(nullptr);
    if (!result) {
        PRINT('e', "SEL0100", "Can not process a row for cursor %s:       may be next time\n",
              c->cur_name);
        set_row_status(ROW_FAILED);
    }
    return result;
}

int perform_select(const char* select_list, const char* cursor_name, void* target,
                   const char* where, int target_type) {
    row_data* rc = nullptr;
    held_result held;
    verify_term_tb_anchor();
    curs* c = find_cursor(cursor_name);
    if (!c) {
        PRINT('e', "SEL0290", "Cursor %s not found\n", cursor_name ? cursor_name : "");
        return 1;
    }
    select_cursor_guard guard(c, &rc);
    if (ed_parse_sel_list(select_list, cursor_name, &lxb_l) != 0) return 1;
    const lex_block list = lxb_l;
    if (where && parse_where(where, cursor_name, &lxb_w) != 0) return 1;
    const lex_block cond = where ? lxb_w : lex_block{};

    int result = open_select_cursor(c, &rc);
    if (result != 0) return result;
    const bool planned = where && !u_trace_on(EXPR_TRACE_LEVEL) && where_plan.compile(cond.rpn, c);
    // Only the rows an equality of the condition leaves, when it has one.
    const std::vector<row_data*>* rows = planned ? candidate_rows(c, where_plan) : nullptr;
    size_t next_row = 0;
    set_proc_mode(PROC_FIRST_ROW);
    set_row_status(ROW_NONE);
    long ignored = 0;
    quiet_rows = false;
    for (;;) {
        int fetched = 0;
        if (!rows) {
            fetched = fetch_next_row(c, &rc);
        } else if (next_row == rows->size()) {
            fetched = 100;
        } else {
            rc = (*rows)[next_row++];
            point_columns(c, rc);
        }
        if (fetched == 100) break;
        if (fetched == -1) return 1;
        if (fetched != 0) {
            PRINT('s', "SEL0300", "Process for cursor %s corrupted: quitting\n", c->cur_name);
            select_quitting();
        }
        if (where) {
            int take = planned ? where_plan.evaluate() : -1;
            if (take == -1) {
                copy_rpn(cond.rpn_repl, cond.rpn, cond.rpn_len);
                take = evaluate_row(c, cond.rpn_repl);
            }
            if (take == 0) continue;
            if (take == -1) {
                if (!quiet_rows)
                    PRINT('w', "SEL0320", "Ignoring a row for cursor %s\n", c->cur_name);
                ++ignored;
                quiet_rows = true;
                continue;
            }
            if (take != 1) {
                PRINT('s', "SEL0330", "Process for cursor %s corrupted: quitting\n", c->cur_name);
                select_quitting();
            }
        }
        set_row_status(ROW_CONTINUES);
        copy_rpn(list.rpn_repl, list.rpn, list.rpn_len);
        release_result(&held.term);
        held.term = process_row(c, list.rpn_repl);
        if (!held.term) {
            quiet_rows = false;
            return 1;
        }
        set_proc_mode(PROC_SAME_GROUP);
        const int status = get_row_status();
        if (status == ROW_CONTINUES) continue;
        if (status == ROW_NEW_GROUP) {
            // The row begins a new group: the ended group goes to the target, and the row is
            // evaluated again as the first of its group.
            if (dispose_result(&held.term, target, target_type) != 0) {
                quiet_rows = false;
                return 1;
            }
            set_proc_mode(PROC_NEW_GROUP);
            copy_rpn(list.rpn_repl, list.rpn, list.rpn_len);
            release_result(&held.term);
            held.term = process_row(c, list.rpn_repl);
            if (!held.term) {
                quiet_rows = false;
                return 1;
            }
            set_row_status(ROW_CONTINUES);
            set_proc_mode(PROC_SAME_GROUP);
            continue;
        }
        if (!quiet_rows) PRINT('w', "SEL0120", "Ignoring a row for cursor %s\n", c->cur_name);
        ++ignored;
        quiet_rows = true;
    }
    quiet_rows = false;
    if (ignored > 1)
        PRINT('w', "SEL0325", "Ignored %ld rows for cursor %s\n", ignored, c->cur_name);

    result = guard.close();
    if (result != 0) return result;
    switch (get_row_status()) {
        case ROW_NONE:
            return 100;
        case ROW_FAILED:
            return 1;
        default:
            return dispose_result(&held.term, target, target_type);
    }
}
