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

// One load text of cursor c. Returns the record, or null when the load is dropped;
// *bad is set for every reported problem (also for one that does not drop the load).
load_process* parse_one_load(curs* c, const char* load_text, bool* bad) {
    const char* name = c->cur_name;
    const char* p = skip_blanks(load_text);
    int16_t average = 0, sum = 0, count = 0;
    if (starts_with(p, "AVERAGE ") || starts_with(p, "average ")) {
        average = 1;
        p += 8;
    } else if (starts_with(p, "SUM ") || starts_with(p, "sum ")) {
        sum = 1;
        p += 4;
    } else if (starts_with(p, "COUNT ") || starts_with(p, "count ")) {
        count = 1;
        p += 6;
    }
    p = skip_blanks(p);

    // Source column text: up to a blank, "->" or the end.
    const char* s = p;
    while (*p != '\0' && *p != ' ' && !starts_with(p, "->")) ++p;
    std::string source(s, static_cast<size_t>(p - s));
    if (source.empty()) {
        PRINT('e', "plo3010", "No source column found for load in cursor %s\n", name);
        *bad = true;
        return nullptr;
    }
    columns* parsed = source.size() <= 39 ? scratch_column(c, source) : nullptr;
    if (parsed == nullptr) {
        PRINT('e', "plo3015", "Bad source column text in %s\n", load_text);
        *bad = true;
        return nullptr;
    }
    auto drop = [&]() -> load_process* {
        U_FREE(parsed);
        *bad = true;
        return nullptr;
    };
    columns* source_col = find_source(c, parsed);
    if (source_col == nullptr) {
        PRINT('e', "plo3020", "Column %s not found in cursor %s for load %s\n", source.c_str(),
              name, load_text);
        return drop();
    }

    p = skip_blanks(p);
    if (!starts_with(p, "->")) {
        PRINT('e', "plo3025", "Bad syntax in load for cursor %s : %s\n", name, load_text);
        return drop();
    }
    p = skip_blanks(p + 2);

    // Target cursor.
    size_t tn = run_length(p, " .");
    std::string target_name(p, tn);
    p += tn;
    if (target_name.empty()) {
        PRINT('e', "plo3030", "Target cursor name not found in cursor %s for load %s\n", name,
              load_text);
        return drop();
    }
    curs* target = cursor_by_name(target_name);
    if (target == nullptr) {
        PRINT('e', "plo3035", "Target cursor (%s) not found for load %s in %s\n",
              target_name.c_str(), load_text, name);
        return drop();
    }
    if (target->cvirtual == 0) {
        PRINT('e', "plo3040", "Target cursor (%s) in %s for %s is not virtual\n",
              target_name.c_str(), load_text, name);
        return drop();
    }
    p = skip_blanks(p);
    if (*p != '.') {
        PRINT('e', "plo3045", "Bad target cursor.column syntax in load %s for cursor %s\n",
              load_text, name);
        return drop();
    }
    p = skip_blanks(p + 1);

    // Target column: a position counted from 1, or a name.
    size_t cn = run_length(p, " ");
    std::string target_col(p, cn);
    p += cn;
    if (target_col.empty()) {
        PRINT('e', "plo3050", "No target column name in cursor %s load %s\n", name, load_text);
        return drop();
    }
    columns* target_col_ptr = nullptr;
    if (std::isdigit(static_cast<unsigned char>(target_col[0]))) {
        long n = std::strtol(target_col.c_str(), nullptr, 10);
        if (n == 0) n = 1;
        if (n <= 32767) target_col_ptr = column_at(target, static_cast<int>(n - 1));
    } else {
        target_col_ptr = column_by_name(target, target_col.c_str(), 0);
    }
    if (target_col_ptr == nullptr) {
        PRINT('e', "plo3055", "Target column (%s) not found for cursor %s load %s\n",
              target_col.c_str(), name, load_text);
        return drop();
    }

    // WHERE or FROM.
    p = skip_blanks(p);
    int16_t where = 0, from = 0;
    if (starts_with(p, "where ") || starts_with(p, "WHERE ")) {
        where = 1;
        p += 6;
    } else if (starts_with(p, "from ") || starts_with(p, "FROM ")) {
        from = 1;
        p += 5;
    }
    p = skip_blanks(p);
    if ((where || from) && source_col->col_function != 0) {
        PRINT('e', "plo3060", "Column function and load_where or load_from are incompatable\n");
        *bad = true;  // reported, but the load is still built
    }

    int16_t lmin = 0, lmax = 0, lmax_occ = 0;
    columns* min_max_column = nullptr;
    decode* condition = nullptr;
    if (from) {
        if (count || sum || average) {
            PRINT('e', "plo3065", "Cannot have FROM directive with count/sum/average in load\n");
            return drop();
        }
        if (starts_with(p, "MIN ") || starts_with(p, "min ")) {
            lmin = 1;
            p += 4;
        } else if (starts_with(p, "MAX ") || starts_with(p, "max ")) {
            lmax = 1;
            p += 4;
        } else if (starts_with(p, "MAX_OCCURANCE ") || starts_with(p, "max_occurance ")) {
            lmax_occ = 1;
            p += 14;
        } else {
            PRINT('e', "plo3070", "From requires min/max/max_occurance in load\n");
            return drop();
        }
        p = skip_blanks(p);
        size_t mn = run_length(p, " ");
        std::string select_col(p, mn);
        if (select_col.empty()) {
            PRINT('e', "plo3075", "No min_max column name in cursor %s load %s\n", name, load_text);
            return drop();
        }
        min_max_column = column_by_name(c, select_col.c_str(), 0);
        if (min_max_column == nullptr) {
            PRINT('e', "plo3080", "MIN-MAX column (%s) not found for cursor %s load %s\n",
                  select_col.c_str(), name, load_text);
            return drop();
        }
    } else if (where) {
        // The condition reads as a decode rule with a quoted-blank replacement. It is
        // parsed from a copy, so the stored load text stays as written.
        std::string rule = std::string(p) + LOAD_TEXT_TAIL;
        decode* own = c->decode;
        c->decode = nullptr;
        int rc = parse_decode(c, rule.data());
        condition = c->decode;
        c->decode = own;
        if (rc != 0) {
            free_decode_chain(condition);
            return drop();
        }
    }

    auto* lp = clause_new<load_process>();
    lp->source_col_ptr = source_col;
    lp->this_column = parsed;
    lp->target_curs = target;
    lp->target_col_ptr = target_col_ptr;
    lp->load_min = lmin;
    lp->load_max = lmax;
    lp->load_count = count;
    lp->load_sum = sum;
    lp->load_average = average;
    lp->load_from = from;
    lp->load_where = where;
    lp->load_max_occurance = lmax_occ;
    lp->decode_ptr = condition;
    lp->min_max_column = min_max_column;
    return lp;
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
