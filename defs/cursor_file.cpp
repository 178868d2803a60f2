// Reading the cursor file.
//
// Each statement starts with a keyword. Keywords with a value take each following word as
// a value (a second word therefore meets the duplicate test of the first); keywords acting
// on the whole statement take the text after the keyword. Host-variable words of any
// statement become columns of the cursor. if/else/endif switch the record being filled
// (cursor versions); a block is closed, checked on every version and appended to
// cur_anchor at the next cursor statement or at end.
#include "defs/cursor_file.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/clause_loads.h"
#include "defs/clause_math.h"
#include "defs/clause_words.h"
#include "defs/cursor_file_parts.h"
#include "defs/cursor_versions.h"
#include "defs/dataset_file.h"
#include "defs/distrib.h"
#include "defs/parse_support.h"
#include "defs/select_lists.h"
#include "defs/tokenizer.h"
#include "model/column_lookup.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

namespace {

fetch_ex exit_rows[8] = {
    {&exit_rows[1], 1, 1, "fetchx1", 0, 0}, {&exit_rows[2], 1, 2, "fetchx2", 0, 0},
    {&exit_rows[3], 1, 3, "fetchx3", 0, 0}, {&exit_rows[4], 1, 4, "fetchx4", 0, 0},
    {&exit_rows[5], 1, 5, "fetchx5", 0, 0}, {&exit_rows[6], 1, 9, "fetchxi1", 7, 0},
    {&exit_rows[7], 1, 9, "fetchxi", 0, 0}, {nullptr, 1, 1, "fetchxt", 0, 0},
};

}  // namespace

const fetch_ex* const exits = &exit_rows[0];

const fetch_ex* find_fetch_exit(const char* word) {
    for (const fetch_ex* row = exits; row != nullptr; row = row->prior)
        if (u_strxicmp(word, row->name) == 0) return row;
    return nullptr;
}

using namespace cursor_file_detail;

namespace {

// ---- blocks -----------------------------------------------------------------------------

// Closes the open block. False when reading is to stop.
bool close_block(parse_state& ps) {
    curs* c = ps.cur;
    ps.open = false;
    if (tracing()) PRINT('t', "QWBPIF10", "Going to edit curs %s\n", c->cur_name);
    if (edit_curs_version_set(c) != 0) {
        ps.error = true;
        reset_version_parse_state();
        append_cursor(ps.top);  // kept on the list so that del_curs releases it
        return false;
    }
    failed = 0;
    each_version(c, [](curs* v) { edit_cursor_block(v); });
    bool ok = failed == 0;
    if (ok) {
        each_version(c, [&ok](curs* v) {
            if (ok && set_selects(v) != 0) ok = false;
        });
    }
    if (c->if_tree_place != nullptr && c->if_tree_place != c)
        std::memcpy(static_cast<void*>(c), static_cast<const void*>(c->if_tree_place),
                    sizeof(curs));
    if (tracing())
        PRINT('t', "QWBPIF100", "Slot cursor %s : %p, vers_list %p, SQL %.100s, tree place %p\n",
              c->cur_name, static_cast<void*>(c), static_cast<void*>(c->cur_version_list),
              c->insert_select != nullptr ? c->insert_select->text : "",
              static_cast<void*>(c->if_tree_place));
    append_cursor(c);
    if (!ok) ps.error = true;
    return ok;
}

enum class open_result { ok, stop, duplicate };

open_result open_block(parse_state& ps, char* end) {
    int32_t n = def_word(end, "pcc0460");
    // A missing or long name stops reading without the error flag: the missing end
    // statement is then reported as well.
    if (n < 0) {
        ps.error = true;
        return open_result::stop;
    }
    if (n == 0) {
        PRINT('e', "pcc0445", "No Cursor name supplied\n");
        return open_result::stop;
    }
    if (n > 8) {
        PRINT('e', "pcc0450", "Cursor name exceeeds 8 characters\n");
        return open_result::stop;
    }
    char name[9] = {};
    std::memcpy(name, parse_word.text, static_cast<size_t>(n));
    if (find_cursor(name) != nullptr) {
        PRINT('e', "pcc0455", "Duplicate cursor name %s\n", name);
        return open_result::duplicate;
    }
    curs* c = curs_new();
    std::memcpy(c->cur_name, name, sizeof(name));
    ps.cur = c;
    ps.top = c;
    ps.open = true;
    reset_version_parse_state();
    return open_result::ok;
}

// The words after the keyword of one statement. False when reading is to stop
// (unbalanced parentheses).
bool statement_words(parse_state& ps, int code, char* end) {
    char* after_keyword = this_start;
    while (*after_keyword == ' ') ++after_keyword;
    std::string rest(after_keyword);

    if (code == K_IF) {
        char* scan = after_keyword;
        if (tracing())
            PRINT('t', "QWBPIF20", "curs %p, cur name %s, expr %.30s\n", static_cast<void*>(ps.cur),
                  ps.cur->cur_name, scan);
        int rc = parse_if(&ps.cur, &scan);
        if (tracing())
            PRINT('t', "QWBPIF30", "curs %p, cur name %s, expr %.30s, if chain %p\n",
                  static_cast<void*>(ps.cur), ps.cur->cur_name, scan,
                  static_cast<void*>(ps.cur->if_chain));
        if (rc != 0) ps.error = true;
        return true;
    }

    bool statement_error = false;
    int word_no = 1;
    for (;;) {
        int32_t len = def_word(end, "pcc0460");
        if (len < 0) {
            ps.error = true;
            return true;
        }
        if (len == 0) break;
        ++word_no;
        char* word = parse_word.text;
        const uint16_t flags = parse_word.flags;
        this_start = word + len;
        if (flags & PW_HOSTVAR) {
            char host[256];
            const size_t n = std::min(static_cast<size_t>(len), sizeof(host) - 1);
            std::memcpy(host, word, n);
            host[n] = '\0';
            if (add_column(host, ps.cur) == 0)
                ++ps.cur->num_hvs;
            else
                ps.error = true;
        }
        if (!value_word(ps, code, word_no, word, len, flags, end)) {
            statement_error = true;
            break;
        }
    }
    if (statement_error) {
        ps.error = true;
        return true;
    }
    if (!def_parens_balance("pcc0725")) {
        ps.error = true;
        return false;
    }
    if (!statement_end(ps, code, rest, end)) ps.error = true;
    return true;
}

}  // namespace

void edit_cursor_block(curs* c) {
    set_col_ordinals(c);
    std::memset(c->ssqlcode, ' ', sizeof(c->ssqlcode));
    if (c->cur_name[0] == '\0') {
        PRINT('e', "pcc0327", "No cursor name\n");
        failed = 1;
    }
    if (c->stale != 0 && c->demand == 0) {
        PRINT('t', "pcc0340", "Error - Stale only valid with demand cursor\n");
        failed = 1;
    }
    if (c->demand == 0 && c->cvirtual == 0 && c->interval == 0) {
        c->interval = 10;
        PRINT('w', "pcc0345", "Using default interval of 10 seconds for cursor %s\n", c->cur_name);
    }
    if (c->dummy != 0 && c->conditional_dummy != 0) {
        PRINT('e', "pcc0350", "Conditional_dummy_last_row and dummy_last_row are exclusive\n");
        failed = 1;
    }
    if (c->insert_columns == nullptr) {
        PRINT('e', "pcc0355", "No local columns to fetch for insert\n");
        failed = 1;
    }
    if (c->insert == nullptr) {
        PRINT('e', "pcc0360", "No model INSERT statement\n");
        failed = 1;
    }
    if (c->table_name == nullptr) {
        PRINT('e', "pcc0365", "No table name found\n");
        failed = 1;
    }
    if (c->demand == 0 && c->cvirtual == 0 && c->limit == 0 && c->time_limit == 0) {
        c->limit = 200;
        PRINT('w', "pcc0370", "Warning, No cursor row limit, using 200 rows\n");
    }
    if (c->mon_fri_start == nullptr) c->mon_fri_start = &full_day;
    if (c->saturday_start == nullptr) c->saturday_start = &full_day;
    if (c->sunday_start == nullptr) c->sunday_start = &full_day;
    if (c->once != 0 && c->empty != 0) {
        PRINT('e', "pcc0390", "Empty and Once are incompatable\n");
        failed = 1;
    }
    if (c->no_sql != 0) {
        if (c->raw_insert_select != nullptr) {
            PRINT('e', "pcc0400", "NO_SQL and INSERT_SELECT are incompatable\n");
            failed = 1;
        }
        if (c->cvirtual != 0) {
            PRINT('e', "pcc0405", "NO_SQL and VIRTUAL are incompatable\n");
            failed = 1;
        }
        if (c->base != nullptr) {
            PRINT('e', "pcc0410", "NO_SQL and BASE are incompatable\n");
            failed = 1;
        }
    }
    if (c->iterate_where != nullptr && c->iterate == nullptr) {
        PRINT('e', "pcc0415", "ITERATE_WHERE requires ITERATE\n");
        failed = 1;
    }
    if (c->fetch_exit != nullptr && c->fetch_exit->type == 1) {
        if (c->script == nullptr || c->raw_insert_select == nullptr) {
            PRINT('e', "pcc0440", "Fetch exit %s requires 'script' and 'select'\n",
                  c->fetch_exit->name);
            failed = 1;
        } else {
            // The descriptor is cut out of the select text: a version that shares the text
            // with another version gets a copy of its own first.
            bool shared = false;
            if (c->if_tree != nullptr) {
                each_version(c, [&](curs* v) {
                    if (v != c && v->raw_insert_select == c->raw_insert_select) shared = true;
                });
            }
            if (shared)
                c->raw_insert_select =
                    dup_text(c->raw_insert_select, std::strlen(c->raw_insert_select));
            if (parse_script_exit(c) != 0) failed = 1;
        }
    }
    if (c->cvirtual != 0 && c->if_tree != nullptr) {
        PRINT('e', "pcc0443", "A virtual cursor (%s) can't be conditional\n", c->cur_name);
        failed = 1;
    }
}

int parse_curs_file(FILE* input) {
    reset_version_parse_state();
    def_banner("pcc0275", 51, "pcc0280", "-- Starting parse of COLLECT.CTL -- Time = ", "pcc0285",
               51);
    if (cur_anchor != nullptr) del_curs();

    parse_state ps;
    bool duplicate = false;
    def_read_statements(
        input, "pcc0305", "pcc0306",
        [&](char* end) {
            int32_t n = 0;
            const int code = def_keyword(
                end, [](const char* w, int32_t len) -> int { return test_word(w, len); }, "pcc0310",
                "pcc0315", &n);
            if (code == 0) return true;
            if (code < 0) {
                ps.error = true;
                return false;
            }
            const char* word = parse_word.text;
            if (!ps.open && ps.top == nullptr) {
                if (n != 6) {
                    PRINT('e', "pcc0320", "First word must be 'cursor'\n");
                    ps.error = true;
                    return false;
                }
                if (std::strncmp(word, "cursor", 6) != 0 && std::strncmp(word, "CURSOR", 6) != 0) {
                    PRINT('e', "pcc0325", "First word must be 'cursor'\n");
                    ps.error = true;
                    return false;
                }
            }
            ps.last_keyword = code;
            this_start = parse_word.text + n;
            if (code == K_CURSOR || code == K_END) {
                if (ps.open && !close_block(ps)) return false;
                if (code == K_END) return false;
                open_result o = open_block(ps, end);
                if (o == open_result::duplicate) {
                    duplicate = true;
                    return false;
                }
                return o != open_result::stop;
            }
            if (ps.error) return true;
            return statement_words(ps, code, end);
        },
        [&] {
            ps.error = true;
            return true;
        });
    if (duplicate) {
        reset_version_parse_state();
        return 1;
    }
    if (ps.last_keyword != K_END && !ps.error) {
        PRINT('e', "pcc0730", "Missing end statement\n");
        ps.error = true;
    }
    if (ps.open) {
        // A block the file left open is kept on the list, so that del_curs releases it.
        reset_version_parse_state();
        append_cursor(ps.top);
        ps.open = false;
    }
    if (ps.last_keyword == K_END && trace_all != 0) {
        for (curs* c = cur_anchor; c != nullptr; c = c->next) {
            c->trace = 1;
            each_version(c, [](curs* v) { v->trace = 1; });
        }
    }

    def_banner("pcc0735", 42, "pcc0740", "--  Collector Parsing ended at ", "pcc0745", 42);
    if (ps.error) {
        PRINT('e', "pcc0755", "Parsing ended with errors\n");
        return 1;
    }
    char stamp[15];
    get_time(stamp);
    const int64_t rel = relative_sec(stamp);
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        c->dist_ptr = collector_at;
        each_version(c, [](curs* v) { v->dist_ptr = collector_at; });
        set_window_c(c, rel);
    }
    return 0;
}

int parse_curs() {
    // After a failed attempt the messages stay on standard output.
    if (stder == nullptr && PRINTopenerr == 0 && u_openPRINTfile(nullptr) == nullptr) return 1;
    return def_parse_named("coll", parse_curs_file, 1);
}
