#include "expr/term_table.h"

#include <cstring>

#include "expr/lexeme.h"
#include "expr/memory_registry.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/strings.h"
#include "runtime/trace.h"

TERM_TABLE* term_tb_anchor = nullptr;
TERM_TABLE* current_term = nullptr;
TERM_TABLE* reuse_term_store = nullptr;
curs* current_cursor = nullptr;

namespace {

constexpr int EXPR_TRACE_LEVEL = 8;

bool usable_table() {
    if (term_tb_anchor != term_tb_invalid()) return true;
    PRINT('s', "TRM0150", "Invalid pointer: quitting\n");
    quitting(-1);  // a failure never ends with status 0
    u_exit(1);
    return false;
}

// The stored text equals text[0..length) over the longer of the two lengths.
bool same_text(const char* stored, const char* text, int16_t length, bool ignore_case) {
    size_t n = static_cast<size_t>(length);
    if (std::strlen(stored) != n) return false;
    return ignore_case ? u_strnicmp(stored, text, length) == 0 : std::memcmp(stored, text, n) == 0;
}

bool fits(const char* text, int16_t length) {
    return text && length >= 0 && length <= TERM_NAME_MAX;
}

// A new term of the active table holding text[0..length); value stays null until bound.
TERM_TABLE* new_entry(int32_t term_type, int32_t data_type, const char* text, int16_t length) {
    TERM_TABLE* term = chain_to_perm_term_tb(term_type, data_type);
    if (!term) return nullptr;
    std::memcpy(term->name, text, static_cast<size_t>(length));
    term->name[length] = '\0';
    term->value = nullptr;
    return term;
}

// Records a new table's chain; its owner cell follows the table's first term from now on.
void register_table(TERM_TABLE* head) {
    auto** owner = static_cast<TERM_TABLE**>(U_MALLOC(sizeof(TERM_TABLE*)));
    *owner = head;
    int rc = register_memory_owner(reinterpret_cast<void**>(owner),
                                   static_cast<long>(offsetof(TERM_TABLE, next)));
    if (rc == 0) return;
    U_FREE(owner);
    if (rc == 1) {
        PRINT('s', "TRM0100", "Memory registration failed\n");
        quitting(-1);  // a failure never ends with status 0
        u_exit(1);
    } else if (rc == 2) {
        PRINT('w', "TRM0110", "Attempt to register same memory again\n");
    } else {
        PRINT('w', "TRM0120", "Unexpected function return\n");
    }
}

int release(TERM_TABLE* term, int mode, bool with_vector, const char* invalid_id,
            const char* value_id) {
    if (!term) {
        PRINT('w', "LEX0230", "Pointer to memory to free is NULL\n");
        return 1;
    }
    if (u_trace_on(EXPR_TRACE_LEVEL) && verify_term(term) != 0) {
        PRINT('e', invalid_id, "Term block is invalid, not freed\n");
        return 1;
    }
    int rc = 0;
    const bool owns = with_vector ? term->allocd_value == 1 : term->allocd_value != 0;
    if (owns) {
        if (!term->value || term->value == term->name) {
            PRINT('e', value_id, "TERM_TABLE structure ->value pointer can't be freed\n");
            rc = 1;
        } else {
            U_FREE(term->value);
        }
        term->value = nullptr;
        term->allocd_value = 0;
    }
    if (with_vector && term->vector) free_term(term->vector, mode);
    term->next = nullptr;
    term->vector = nullptr;
    if (mode == 0) {
        U_FREE(term);
    } else {
        term->next = reuse_term_store;
        reuse_term_store = term;
    }
    return rc;
}

}  // namespace

void open_lexer(TERM_TABLE* anchor) {
    if (anchor == term_tb_invalid()) {
        PRINT('s', "TRM0150", "Invalid pointer: quitting\n");
        quitting(-1);  // a failure never ends with status 0
        u_exit(1);
        return;
    }
    term_tb_anchor = anchor;
}

void close_lexer(TERM_TABLE** owner) {
    if (owner) *owner = term_tb_anchor;
    term_tb_anchor = nullptr;
}

void set_term_tb_anchor(TERM_TABLE* anchor) { term_tb_anchor = anchor; }

TERM_TABLE* get_lex_term_tb_anchor() { return term_tb_anchor; }

void free_perm_term_tb(TERM_TABLE* anchor) {
    term_tb_anchor = anchor;
    if (anchor && anchor != term_tb_invalid()) {
        update_memory_owner(anchor, nullptr);
        TERM_TABLE* term = anchor;
        while (term) {
            TERM_TABLE* following = term->next;
            free_term(term, 0);
            term = following;
        }
    }
    term_tb_anchor = nullptr;
}

TERM_TABLE* find_name_entry(const char* text, int16_t length) {
    if (!fits(text, length) || !usable_table()) return nullptr;
    for (TERM_TABLE* t = term_tb_anchor; t; t = t->next) {
        if ((t->term_type == TERM_NAME || t->term_type == TERM_VECTOR) &&
            same_text(t->name, text, length, true))
            return t;
    }
    return new_entry(TERM_NAME, DT_UNDEFINED, text, length);
}

TERM_TABLE* find_number_entry(const char* text, int16_t length) {
    if (!fits(text, length) || !usable_table()) return nullptr;
    const int32_t data_type =
        std::memchr(text, '.', static_cast<size_t>(length)) ? DT_DOUBLE : DT_INT;
    for (TERM_TABLE* t = term_tb_anchor; t; t = t->next) {
        if (t->term_type == TERM_NUMBER && t->data_type == data_type &&
            same_text(t->name, text, length, true))
            return t;
    }
    return new_entry(TERM_NUMBER, data_type, text, length);
}

TERM_TABLE* find_string_entry(const char* text, int16_t length) {
    if (!fits(text, length) || !usable_table()) return nullptr;
    for (TERM_TABLE* t = term_tb_anchor; t; t = t->next) {
        if (t->term_type == TERM_STRING && same_text(t->name, text, length, false)) return t;
    }
    return new_entry(TERM_STRING, DT_CHAR, text, length);
}

TERM_TABLE* find_column_term(const TERM_TABLE* term) {
    if (!term || term_tb_anchor == term_tb_invalid()) return nullptr;
    for (TERM_TABLE* t = term_tb_anchor; t; t = t->next) {
        if (t->term_type == TERM_COLUMN && u_stricmp(t->cursor_name, term->cursor_name) == 0 &&
            u_stricmp(t->name, term->name) == 0)
            return t;
    }
    return nullptr;
}

TERM_TABLE* chain_to_perm_term_tb(int32_t term_type, int32_t data_type) {
    if (!usable_table()) return nullptr;
    TERM_TABLE* term = alloc_term(term_type, data_type);
    if (!term_tb_anchor) {
        term_tb_anchor = term;
        register_table(term);
        return term;
    }
    TERM_TABLE* last = term_tb_anchor;
    while (last->next) last = last->next;
    last->next = term;
    return term;
}

TERM_TABLE* alloc_term(int32_t term_type, int32_t data_type) {
    // Never null: u_malloc ends the process when memory runs out (no TRM0010).
    auto* term = static_cast<TERM_TABLE*>(U_MALLOC(sizeof(TERM_TABLE)));
    std::memset(static_cast<void*>(term), 0, sizeof(TERM_TABLE));
    term->lexeme_type = LEX_TERM;
    term->term_type = term_type;
    term->data_type = data_type;
    term->value = term->name;
    return term;
}

int unchain_and_free_term(TERM_TABLE* term) {
    if (!term) {
        PRINT('w', "LEX0230", "Pointer to memory to free is NULL\n");
        return 1;
    }
    if (term_tb_anchor && term_tb_anchor != term_tb_invalid()) {
        if (term_tb_anchor == term) {
            term_tb_anchor = term->next;
            update_memory_owner(term, term->next);
            return free_term(term, 0);
        }
        for (TERM_TABLE* t = term_tb_anchor; t->next; t = t->next) {
            if (t->next == term) {
                t->next = term->next;
                return free_term(term, 0);
            }
        }
    }
    PRINT('w', "LEX0240", "TERM_TABLE structure to free not found\n");
    return 1;
}

int free_term(TERM_TABLE* term, int mode) {
    return release(term, mode, true, "LEX0243", "LEX0245");
}

int simple_free_term(TERM_TABLE* term, int mode) {
    return release(term, mode, false, "LEX0252", "LEX0255");
}

int verify_term(const TERM_TABLE* term) {
    if (!u_trace_on(EXPR_TRACE_LEVEL)) return 0;
    if (!term || term->lexeme_type != LEX_TERM) {
        PRINT('e', "TRM0200", "Term entry type is invalid\n");
        return 1;
    }
    if (term->term_type <= 0 || term->term_type > TERM_VECTOR) {
        PRINT('e', "TRM0210", "Term %.*s type is invalid\n", TERM_NAME_MAX, term->name);
        return 1;
    }
    if (term->data_type < 0 || term->data_type >= 7) {
        PRINT('e', "TRM0220", "Term data type is invalid\n");
        return 1;
    }
    return 0;
}
