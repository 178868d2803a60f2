#include "collector/transforms/host_vars.h"

#include <strings.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "collector/transforms/in_list_entry.h"
#include "defs/clause_loads.h"
#include "expr/percent_vars.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/dates.h"
#include "runtime/msg.h"

namespace {

constexpr char percent_cursor_name[] = "%CURSOR";
constexpr int kScan = 50;  // characters looked at to classify a reference

bool is_terminator(char ch) {
    return ch == '\0' || ch == ' ' || ch == '\'' || ch == '+' || ch == '-' || ch == '*' ||
           ch == '/' || ch == ',' || ch == '(' || ch == ')';
}

curs* percent_cursor() {
    curs* found = nullptr;
    for (curs* c = cur_anchor; c != nullptr; c = c->next)
        if (strncasecmp(c->cur_name, percent_cursor_name, sizeof(c->cur_name)) == 0) found = c;
    return found;
}

// The output under construction, bounded by the statement buffer.
struct Out {
    char* buf;
    size_t n = 0;
    bool overflow = false;
    void put(const char* s, size_t len) {
        if (n + len >= hv_statement_size) {
            overflow = true;
            return;
        }
        std::memcpy(buf + n, s, len);
        n += len;
    }
    void put(char ch) { put(&ch, 1); }
    void put(const std::string& s) { put(s.data(), s.size()); }
};

bool numeric_text(const char* v, int len) {
    for (int i = 0; i < len; ++i) {
        const char ch = v[i];
        if (!(std::isdigit(static_cast<unsigned char>(ch)) || ch == ' ' || ch == '+' || ch == '-' ||
              ch == '.'))
            return false;
    }
    return true;
}

bool bare_word_char(char ch) {
    return std::isalnum(static_cast<unsigned char>(ch)) || ch == '_' || ch == '.' || ch == '#' ||
           ch == '@' || ch == '$';
}

enum class Insert { ok, no_row, bad_type, refused };

// Inserts the value of the column in the source cursor's last row. The '!' form replaces
// a '!' the output ends with by the bare value; a numeric column goes in as it stands;
// anything else as a quoted string. Row values are server data that any client can shape
// (login and host names), so a value that would change the statement is refused.
Insert insert_value(Out& out, const curs* src, const columns* col) {
    if (src->last_row == nullptr) return Insert::no_row;
    if (col->data_type != 1) return Insert::bad_type;
    const char* v = src->last_row->text + col->offset;
    const int len = col->len;
    if (out.n > 0 && out.buf[out.n - 1] == '!') {
        int n = len;
        while (n > 0 && (v[n - 1] == ' ' || v[n - 1] == '\0')) --n;
        for (int i = 0; i < n; ++i)
            if (!bare_word_char(v[i])) return Insert::refused;
        --out.n;
        out.put(v, static_cast<size_t>(n));
    } else if (col->orig_type == 2) {
        if (!numeric_text(v, len)) return Insert::refused;
        out.put(v, static_cast<size_t>(len));
    } else {
        std::vector<char> q(static_cast<size_t>(in_list_entry_size(len)));
        out.put(q.data(), static_cast<size_t>(in_list_entry(q.data(), v, len, false)));
    }
    return Insert::ok;
}

void trace_result(const curs* c, const char* id, const Out& out) {
    if (c->trace)
        PRINT('t', id, "HV merge produced: %s\n",
              us_ps(out.buf, static_cast<int>(out.n), 201, 1 | 8));
}

sel_piece* new_piece(int16_t type) {
    auto* p = static_cast<sel_piece*>(U_MALLOC(sizeof(sel_piece)));
    std::memset(static_cast<void*>(p), 0, sizeof(sel_piece));
    p->type = type;
    return p;
}

void append_piece(curs* c, sel_piece* p) {
    sel_piece** at = &c->sel_piece;
    while (*at != nullptr) at = &(*at)->next;
    *at = p;
}

int too_long(const curs* c) {
    PRINT('e', "ypp0207", "Statement of cursor %.9s longer than %d bytes\n", c->cur_name,
          static_cast<int>(hv_statement_size) - 1);
    return -1;
}

void refused(const curs* c, const char* src, const char* col) {
    PRINT('e', "cmg3237", "Value of %.9s.%.50s refused in sql for %.9s\n", src, col, c->cur_name);
}

// The first execution failed for this run only: the chain is dropped so that the next
// run parses again.
int drop_chain(curs* c) {
    free_sel_pieces(c->sel_piece);
    c->sel_piece = nullptr;
    return -1;
}

}  // namespace

void extract_col_name(char** p, char* name) {
    int n = 0;
    while (!is_terminator(**p) && n < 299) name[n++] = *(*p)++;
    while (!is_terminator(**p)) ++*p;  // a longer name is cut; its tail is no text
    name[n] = '\0';
}

void free_sel_pieces(sel_piece* head) {
    while (head != nullptr) {
        sel_piece* next = head->next;
        U_FREE(head);
        head = next;
    }
}

namespace {

// One host-variable reference of the select text: the names as written and the point
// after it, where the next literal starts.
struct hv_ref {
    char src_name[300] = {};
    char col_part[300] = {};
    char* end = nullptr;
};

// "[cursor.column]" from p (after the '['): the cursor, then its column by position or
// by name, else its in_list of that name. False after a message.
bool resolve_cursor_column(const curs* c, char* p, sel_piece* hv, hv_ref& r) {
    while (*p == ' ') ++p;
    int k = 0;
    while (*p != '.' && *p != ' ' && *p != '\0' && k < 299) r.src_name[k++] = *p++;
    while (*p == ' ') ++p;
    if (*p == '.') ++p;
    while (*p == ' ') ++p;
    extract_col_name(&p, r.col_part);
    r.end = p;
    hv->curs = find_cursor(r.src_name);
    if (hv->curs == nullptr) {
        PRINT('e', "cmg3205", "Cursor %s not found for %s.%s in sql for %.9s\n", r.src_name,
              r.src_name, r.col_part, c->cur_name);
        return false;
    }
    if (std::isdigit(static_cast<unsigned char>(r.col_part[0]))) {
        int ordinal = std::atoi(r.col_part);
        if (ordinal < 1) ordinal = 1;
        columns* k2 = hv->curs->insert_columns;
        for (int i = 1; k2 != nullptr && i < ordinal; ++i) k2 = k2->next;
        hv->col_ptr = k2;
    } else {
        for (columns* k2 = hv->curs->insert_columns; k2 != nullptr; k2 = k2->next)
            if (std::strncmp(k2->col_name, r.col_part, sizeof(k2->col_name)) == 0) {
                hv->col_ptr = k2;
                break;
            }
    }
    if (hv->col_ptr != nullptr) return true;
    for (in_list* l = hv->curs->in_list; l != nullptr; l = l->next)
        if (std::strncmp(l->name, r.col_part, sizeof(l->name)) == 0) {
            hv->in_list = l;
            return true;
        }
    PRINT('e', "cmg3230", "Column %s not found for %s.%s in sql for %.9s\n", r.col_part, r.src_name,
          r.col_part, c->cur_name);
    return false;
}

// "[... %name ...]" from the '%': a percent column of the percent cursor. False after a
// message.
bool resolve_percent_column(const curs* c, const char* pct, sel_piece* hv, hv_ref& r) {
    char* p = const_cast<char*>(pct);
    extract_col_name(&p, r.col_part);
    r.end = p;
    hv->col_ptr = find_pcnt_col(r.col_part);
    if (hv->col_ptr == nullptr) {
        PRINT('e', "cmg3232", "Column %s not found, cursor %.9s \n", r.col_part, c->cur_name);
        return false;
    }
    hv->curs = percent_cursor();
    std::snprintf(r.src_name, sizeof r.src_name, "%s", percent_cursor_name);
    return true;
}

// The in_list's text into the statement; c is held while the in_list was never built.
void put_in_list(curs* c, const sel_piece* hv, Out& out) {
    const in_list* l = hv->in_list;
    if (l->text == default_in_list) {
        PRINT('i', "cmg3210", "Merging %.50s for sel in %.9s, in_list not initialized\n", l->name,
              c->cur_name);
        PRINT('w', "cmg3215", "Cursor %.9s not yet executed\n", hv->curs->cur_name);
        PRINT('w', "cmg3220", "Holding cursor %.9s\n", c->cur_name);
        hold(c);
    }
    out.put(l->text, static_cast<size_t>(l->len));
    if (hv->curs->trace) PRINT('t', "cmg3225", "matched to in_list %.50s\n", l->name);
}

// The column's last value into the statement. False when it could not go in (reported),
// with set_hvs_in_sel's result in *result.
bool put_host_value(curs* c, const sel_piece* hv, const hv_ref& r, Out& out, int* result) {
    switch (insert_value(out, hv->curs, hv->col_ptr)) {
        case Insert::ok:
            return true;
        case Insert::no_row:
            PRINT('e', "cmg3235", "No last row for %s.%s, cursor %.9s\n", r.src_name, r.col_part,
                  c->cur_name);
            *result = drop_chain(c);
            return false;
        case Insert::bad_type:
            PRINT('e', "cmg3240", "Invalid data_type(%d) for %s.%s, cursor %.9s\n",
                  hv->col_ptr->data_type, r.src_name, r.col_part, c->cur_name);
            *result = 0;
            return false;
        case Insert::refused:
            refused(c, r.src_name, r.col_part);
            *result = drop_chain(c);
            return false;
    }
    return true;
}

}  // namespace

int set_hvs_in_sel(curs* c, char* out_buf) {
    if (c->sel_piece != nullptr) return set_hvs_in_sel_2(c, out_buf);
    Out out{out_buf};
    char* in = c->raw_insert_select != nullptr ? c->raw_insert_select : const_cast<char*>("");
    sel_piece* lit = new_piece(1);
    lit->from = in;
    while (*in != '\0') {
        if (*in != '[') {
            out.put(*in++);
            continue;
        }
        // Classify: a '.' among the first nine characters, else a '%' within fifty.
        const size_t avail = strnlen(in + 1, kScan);
        const char* dot = static_cast<const char*>(std::memchr(in + 1, '.', avail < 9 ? avail : 9));
        const char* pct = dot ? nullptr : static_cast<const char*>(std::memchr(in + 1, '%', avail));
        if (!dot && !pct) {
            out.put(*in++);  // an ordinary '[' stays in the open literal
            continue;
        }
        lit->len = static_cast<int32_t>(in - lit->from);
        append_piece(c, lit);
        lit = nullptr;
        sel_piece* hv = new_piece(2);
        hv_ref r;
        if (!(dot ? resolve_cursor_column(c, in + 1, hv, r)
                  : resolve_percent_column(c, pct, hv, r))) {
            U_FREE(hv);
            return 0;
        }
        append_piece(c, hv);
        if (hv->in_list != nullptr) {
            put_in_list(c, hv, out);
        } else if (int result = 0; !put_host_value(c, hv, r, out, &result)) {
            return result;
        }
        // The terminator starts the next literal and is copied with it.
        lit = new_piece(1);
        lit->from = r.end;
        in = r.end;
    }
    if (lit != nullptr) {
        lit->len = static_cast<int32_t>(in - lit->from);
        append_piece(c, lit);
    }
    if (out.overflow) return (drop_chain(c), too_long(c));
    out.buf[out.n] = '\0';
    trace_result(c, "cmg3242", out);
    return static_cast<int>(out.n);
}

int set_hvs_in_sel_2(curs* c, char* out_buf) {
    Out out{out_buf};
    for (const sel_piece* p = c->sel_piece; p != nullptr; p = p->next) {
        if (p->type == 1) {
            if (p->len > 0) out.put(p->from, static_cast<size_t>(p->len));
        } else if (p->in_list != nullptr) {
            out.put(p->in_list->text, static_cast<size_t>(p->in_list->len));
        } else {
            switch (insert_value(out, p->curs, p->col_ptr)) {
                case Insert::ok:
                    break;
                case Insert::no_row:
                    PRINT('e', "cmg3245", "No last row for %.9s.%.50s, cursor %.9s\n",
                          p->curs->cur_name, p->col_ptr->col_name, c->cur_name);
                    return -1;
                case Insert::bad_type:
                    PRINT('e', "cmg3250", "Invalid data_type(%d) for %.9s.%.50s\n",
                          p->col_ptr->data_type, p->curs->cur_name, p->col_ptr->col_name);
                    return 0;
                case Insert::refused:
                    refused(c, p->curs->cur_name, p->col_ptr->col_name);
                    return -1;
            }
        }
    }
    if (out.overflow) return too_long(c);
    out.buf[out.n] = '\0';
    trace_result(c, "cmg3255", out);
    return static_cast<int>(out.n);
}
