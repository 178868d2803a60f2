// pre_cursor, iterate, in_list, base and load clauses.
#include "defs/clause_loads.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "defs/clause_decode.h"
#include "defs/clause_words.h"
#include "defs/select_lists.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

char default_in_list[10] = "( 'ZIP' )";

namespace {

const char* skip_blanks(const char* p) {
    while (*p == ' ') ++p;
    return p;
}

// Length of the run from p up to the first of the stop characters or the end.
size_t run_length(const char* p, const char* stops) { return std::strcspn(p, stops); }

bool starts_with(const char* p, const char* prefix) {
    return std::strncmp(p, prefix, std::strlen(prefix)) == 0;
}

void flush_trace() { std::fflush(stder != nullptr ? stder : stdout); }

}  // namespace

int parse_pre_cursor(curs* cursor, char* text) {
    size_t n = run_length(text, " ");
    if (n > clause_cursor_name_max) {
        PRINT('e', "pcc3100", "Pre_cursor name too long : %s\n", text);
        return 1;
    }
    auto* p = clause_new<pre_cursor>();
    copy_field(p->cur_name, sizeof(p->cur_name), text, n);
    chain_append(&cursor->pre_cursor, p);
    return 0;
}

int parse_iterate(curs* cursor, char* text) {
    if (cursor->iterate != nullptr) {
        PRINT('e', "pit3125", "Can only have one iterate on a cursor\n");
        return 1;
    }
    size_t n = run_length(text, " ");
    if (n > clause_cursor_name_max) {
        PRINT('e', "pit3120", "Iterate cursor name too long : %s\n", text);
        return 1;
    }
    auto* it = clause_new<iterate>();
    copy_field(it->cur_name, sizeof(it->cur_name), text, n);
    cursor->iterate = it;
    return 0;
}

int parse_in_list(curs* cursor, char* text) {
    const char* p = text;
    size_t name_n = run_length(p, " ");
    const char* name = p;
    p = skip_blanks(p + name_n);
    // Only the first five characters count: a word that begins with "using" passes.
    if (std::strncmp(p, "using", 5) != 0) {
        PRINT('e', "pin3260", "Invalid in_list format: %s\n", text);
        return 1;
    }
    p = skip_blanks(p + 5);
    size_t col_n = run_length(p, " ");
    if (name_n > 49 || col_n > 49) {
        PRINT('e', "pin3255", "In_list name or column too long : %s\n", text);
        return 1;
    }
    auto* l = clause_new<in_list>();
    copy_field(l->name, sizeof(l->name), name, name_n);
    copy_field(l->column, sizeof(l->column), p, col_n);
    l->column_ll = static_cast<int16_t>(col_n);
    l->text = default_in_list;
    l->len = static_cast<int32_t>(std::strlen(default_in_list));
    chain_append(&cursor->in_list, l);
    return 0;
}

int parse_base(curs* cursor, char* text) {
    const char* p = text;
    size_t cur_n = run_length(p, " ");
    const char* cur = p;
    p = skip_blanks(p + cur_n);
    if (!starts_with(p, "on ")) {
        PRINT('e', "pba3285", "Invalid base format: %s\n", text);
        return 1;
    }
    p = skip_blanks(p + 3);
    size_t this_n = run_length(p, " -");
    const char* this_col = p;
    p = skip_blanks(p + this_n);
    if (!starts_with(p, "->")) {
        PRINT('e', "pba3290", "Invalid base format: %s\n", text);
        return 1;
    }
    p = skip_blanks(p + 2);
    size_t base_n = run_length(p, " ");
    if (cur_n > clause_cursor_name_max || this_n > 49 || base_n > 49) {
        PRINT('e', "pba3280", "Base cursor or column name too long : %s\n", text);
        return 1;
    }
    auto* b = clause_new<base>();
    copy_field(b->cur_name, sizeof(b->cur_name), cur, cur_n);
    copy_field(b->this_col, sizeof(b->this_col), this_col, this_n);
    b->this_col_ll = static_cast<int16_t>(this_n);
    copy_field(b->base_col, sizeof(b->base_col), p, base_n);
    b->base_col_ll = static_cast<int16_t>(base_n);
    chain_append(&cursor->base, b);
    return 0;
}

namespace {

// A column of the cursor's list by whole 50-byte name, skipping the first skip matches.
columns* column_by_name(curs* c, const char* name, int skip) {
    char key[50] = {};
    size_t n = std::strlen(name);
    if (n > 49) return nullptr;
    std::memcpy(key, name, n);
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        if (std::memcmp(col->col_name, key, sizeof(key)) != 0) continue;
        if (skip-- == 0) return col;
    }
    return nullptr;
}

columns* column_at(curs* c, int index) {
    columns* col = c->insert_columns;
    while (col != nullptr && index-- > 0) col = col->next;
    return col;
}

curs* cursor_by_name(const std::string& name) {
    return name.size() > clause_cursor_name_max ? nullptr : find_cursor(name.c_str());
}

// Parses the source text as a column of the cursor without touching the cursor: its
// column list and the counters add_column may change are put back afterwards.
columns* scratch_column(curs* c, const std::string& source) {
    columns* saved_list = c->insert_columns;
    int16_t saved_hvs = c->num_hvs;
    int16_t saved_funct = c->has_col_funct;
    int16_t saved_min_max = c->has_min_max;
    c->insert_columns = nullptr;
    columns* col = nullptr;
    if (add_column(source.c_str(), c) == 0) col = c->insert_columns;
    if (col != nullptr && col->next != nullptr) col = nullptr;  // never: one word, one column
    c->insert_columns = saved_list;
    c->num_hvs = saved_hvs;
    c->has_col_funct = saved_funct;
    c->has_min_max = saved_min_max;
    return col;
}

// The source column in the cursor's list. The occurrence number add_column read from
// leading digits stays in the parsed name; the digits select, the rest names: "2CPU" is
// the third column named CPU, and a name of digits alone is a position counted from 0.
columns* find_source(curs* c, const columns* parsed) {
    const char* name = parsed->col_name;
    int n = parsed->occurance;
    if (n > 0)
        while (std::isdigit(static_cast<unsigned char>(*name))) ++name;
    if (*name == '\0') return column_at(c, n);
    return column_by_name(c, name, n);
}

// One load text being read: its cursor, the whole text for messages, the point reached.
struct load_reader {
    curs* c;
    const char* text;
    const char* p;
    const char* name() const { return c->cur_name; }
};

// A leading AVERAGE, SUM or COUNT (either case) sets the load's function.
void read_load_function(load_reader& r, load_process& lp) {
    const char*& p = r.p;
    if (starts_with(p, "AVERAGE ") || starts_with(p, "average ")) {
        lp.load_average = 1;
        p += 8;
    } else if (starts_with(p, "SUM ") || starts_with(p, "sum ")) {
        lp.load_sum = 1;
        p += 4;
    } else if (starts_with(p, "COUNT ") || starts_with(p, "count ")) {
        lp.load_count = 1;
        p += 6;
    }
    r.p = skip_blanks(p);
}

// The source column text, up to a blank, "->" or the end: parsed as a column of the
// cursor (this_column, owned) and found in its list (source_col_ptr). False after a
// message, with nothing left allocated.
bool read_source(load_reader& r, load_process& lp) {
    const char* s = r.p;
    while (*r.p != '\0' && *r.p != ' ' && !starts_with(r.p, "->")) ++r.p;
    std::string source(s, static_cast<size_t>(r.p - s));
    if (source.empty()) {
        PRINT('e', "plo3010", "No source column found for load in cursor %s\n", r.name());
        return false;
    }
    columns* parsed = source.size() <= 39 ? scratch_column(r.c, source) : nullptr;
    if (parsed == nullptr) {
        PRINT('e', "plo3015", "Bad source column text in %s\n", r.text);
        return false;
    }
    columns* source_col = find_source(r.c, parsed);
    if (source_col == nullptr) {
        PRINT('e', "plo3020", "Column %s not found in cursor %s for load %s\n", source.c_str(),
              r.name(), r.text);
        U_FREE(parsed);
        return false;
    }
    lp.this_column = parsed;
    lp.source_col_ptr = source_col;
    return true;
}

// "-> cursor." naming a virtual cursor. False after a message.
bool read_target_cursor(load_reader& r, load_process& lp) {
    const char*& p = r.p;
    p = skip_blanks(p);
    if (!starts_with(p, "->")) {
        PRINT('e', "plo3025", "Bad syntax in load for cursor %s : %s\n", r.name(), r.text);
        return false;
    }
    p = skip_blanks(p + 2);
    size_t tn = run_length(p, " .");
    std::string target_name(p, tn);
    p += tn;
    if (target_name.empty()) {
        PRINT('e', "plo3030", "Target cursor name not found in cursor %s for load %s\n", r.name(),
              r.text);
        return false;
    }
    curs* target = cursor_by_name(target_name);
    if (target == nullptr) {
        PRINT('e', "plo3035", "Target cursor (%s) not found for load %s in %s\n",
              target_name.c_str(), r.text, r.name());
        return false;
    }
    if (target->cvirtual == 0) {
        PRINT('e', "plo3040", "Target cursor (%s) in %s for %s is not virtual\n",
              target_name.c_str(), r.text, r.name());
        return false;
    }
    p = skip_blanks(p);
    if (*p != '.') {
        PRINT('e', "plo3045", "Bad target cursor.column syntax in load %s for cursor %s\n", r.text,
              r.name());
        return false;
    }
    p = skip_blanks(p + 1);
    lp.target_curs = target;
    return true;
}

// The target column: a position counted from 1, or a name. False after a message.
bool read_target_column(load_reader& r, load_process& lp) {
    size_t cn = run_length(r.p, " ");
    std::string target_col(r.p, cn);
    r.p += cn;
    if (target_col.empty()) {
        PRINT('e', "plo3050", "No target column name in cursor %s load %s\n", r.name(), r.text);
        return false;
    }
    columns* found = nullptr;
    if (std::isdigit(static_cast<unsigned char>(target_col[0]))) {
        long n = std::strtol(target_col.c_str(), nullptr, 10);
        if (n == 0) n = 1;
        if (n <= 32767) found = column_at(lp.target_curs, static_cast<int>(n - 1));
    } else {
        found = column_by_name(lp.target_curs, target_col.c_str(), 0);
    }
    if (found == nullptr) {
        PRINT('e', "plo3055", "Target column (%s) not found for cursor %s load %s\n",
              target_col.c_str(), r.name(), r.text);
        return false;
    }
    lp.target_col_ptr = found;
    return true;
}

// A following WHERE or FROM (either case) sets the load's directive. A column function
// with either is reported (*bad) but does not drop the load.
void read_directive(load_reader& r, load_process& lp, bool* bad) {
    const char*& p = r.p;
    p = skip_blanks(p);
    if (starts_with(p, "where ") || starts_with(p, "WHERE ")) {
        lp.load_where = 1;
        p += 6;
    } else if (starts_with(p, "from ") || starts_with(p, "FROM ")) {
        lp.load_from = 1;
        p += 5;
    }
    p = skip_blanks(p);
    if ((lp.load_where || lp.load_from) && lp.source_col_ptr->col_function != 0) {
        PRINT('e', "plo3060", "Column function and load_where or load_from are incompatable\n");
        *bad = true;
    }
}

// After FROM: MIN, MAX or MAX_OCCURANCE and the cursor's column they select by. False
// after a message.
bool read_from_selection(load_reader& r, load_process& lp) {
    const char*& p = r.p;
    if (lp.load_count || lp.load_sum || lp.load_average) {
        PRINT('e', "plo3065", "Cannot have FROM directive with count/sum/average in load\n");
        return false;
    }
    if (starts_with(p, "MIN ") || starts_with(p, "min ")) {
        lp.load_min = 1;
        p += 4;
    } else if (starts_with(p, "MAX ") || starts_with(p, "max ")) {
        lp.load_max = 1;
        p += 4;
    } else if (starts_with(p, "MAX_OCCURANCE ") || starts_with(p, "max_occurance ")) {
        lp.load_max_occurance = 1;
        p += 14;
    } else {
        PRINT('e', "plo3070", "From requires min/max/max_occurance in load\n");
        return false;
    }
    p = skip_blanks(p);
    size_t mn = run_length(p, " ");
    std::string select_col(p, mn);
    if (select_col.empty()) {
        PRINT('e', "plo3075", "No min_max column name in cursor %s load %s\n", r.name(), r.text);
        return false;
    }
    lp.min_max_column = column_by_name(r.c, select_col.c_str(), 0);
    if (lp.min_max_column == nullptr) {
        PRINT('e', "plo3080", "MIN-MAX column (%s) not found for cursor %s load %s\n",
              select_col.c_str(), r.name(), r.text);
        return false;
    }
    return true;
}

// After WHERE: the condition reads as a decode rule with a quoted-blank replacement. It
// is parsed from a copy, so the stored load text stays as written. False when
// parse_decode refused it (it has reported).
bool read_where_condition(load_reader& r, load_process& lp) {
    std::string rule = std::string(r.p) + LOAD_TEXT_TAIL;
    decode* own = r.c->decode;
    r.c->decode = nullptr;
    int rc = parse_decode(r.c, rule.data());
    decode* condition = r.c->decode;
    r.c->decode = own;
    if (rc != 0) {
        free_decode_chain(condition);
        return false;
    }
    lp.decode_ptr = condition;
    return true;
}

// One load text of cursor c. Returns the record, or null when the load is dropped;
// *bad is set for every reported problem (also for one that does not drop the load).
load_process* parse_one_load(curs* c, const char* load_text, bool* bad) {
    load_reader r{c, load_text, skip_blanks(load_text)};
    load_process lp{};
    read_load_function(r, lp);
    if (!read_source(r, lp)) {
        *bad = true;
        return nullptr;
    }
    bool ok = read_target_cursor(r, lp) && read_target_column(r, lp);
    if (ok) {
        read_directive(r, lp, bad);
        if (lp.load_from)
            ok = read_from_selection(r, lp);
        else if (lp.load_where)
            ok = read_where_condition(r, lp);
    }
    if (!ok) {
        U_FREE(lp.this_column);
        *bad = true;
        return nullptr;
    }
    auto* out = clause_new<load_process>();
    *out = lp;
    return out;
}

}  // namespace

int parse_loads() {
    bool bad = false;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (c->loadt == nullptr || c->loadp != nullptr) continue;
        for (load_text* t = c->loadt; t != nullptr; t = t->next) {
            if (t->text == nullptr) continue;
            load_process* lp = parse_one_load(c, t->text, &bad);
            if (lp != nullptr) chain_append(&c->loadp, lp);
        }
    }
    if (bad)
        PRINT('e', "plo3085", "Load parsing ended with errors.\n");
    else
        PRINT('i', "plo3090", "Load parsing ended ok.\n");
    flush_trace();
    return bad ? 1 : 0;
}

void free_pre_cursors(pre_cursor* p) {
    while (p != nullptr) {
        pre_cursor* next = p->next;
        U_FREE(p);
        p = next;
    }
}

void free_in_lists(in_list* l) {
    while (l != nullptr) {
        in_list* next = l->next;
        if (l->text != default_in_list) U_FREE(l->text);
        U_FREE(l);
        l = next;
    }
}

void free_bases(base* b) {
    while (b != nullptr) {
        base* next = b->next;
        U_FREE(b);
        b = next;
    }
}

void free_load_processes(load_process* l) {
    while (l != nullptr) {
        load_process* next = l->next;
        U_FREE(l->this_column);
        free_decode_chain(l->decode_ptr);
        U_FREE(l);
        l = next;
    }
}
