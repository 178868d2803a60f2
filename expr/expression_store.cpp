#include "expr/expression_store.h"

#include <cstring>
#include <new>

#include "expr/operation_table.h"
#include "runtime/alloc.h"

W_EXPR_LIST W_EXPR_LIST::lx_expr_list;
W_EXPR_NODE* const W_EXPR_LIST::kFindError = reinterpret_cast<W_EXPR_NODE*>(~uintptr_t{0});

namespace {

int count_entries(const LEXEME* rpn) {
    int n = 0;
    while (rpn && rpn[n]) ++n;
    return n;
}

// A new array of the first n entries of source followed by extra (when set) and the null.
LEXEME* new_rpn(const LEXEME* source, int n, LEXEME extra) {
    const int total = n + (extra ? 1 : 0) + 1;
    auto* rpn = static_cast<LEXEME*>(U_MALLOC(sizeof(LEXEME) * static_cast<size_t>(total)));
    if (n > 0) std::memcpy(rpn, source, sizeof(LEXEME) * static_cast<size_t>(n));
    if (extra) rpn[n++] = extra;
    rpn[n] = nullptr;
    return rpn;
}

char* new_text(const char* text, size_t n, const char* suffix) {
    const size_t extra = suffix ? std::strlen(suffix) : 0;
    auto* out = static_cast<char*>(U_MALLOC(n + extra + 1));
    std::memcpy(out, text, n);
    if (extra) std::memcpy(out + n, suffix, extra);
    out[n + extra] = '\0';
    return out;
}

}  // namespace

// Length of the text up to and including its first ";", else its whole length.
static int expr_text_len(const char* text) {
    if (!text) return 0;
    const char* semi = std::strchr(text, ';');
    const size_t n = semi ? static_cast<size_t>(semi - text) + 1 : std::strlen(text);
    return n > static_cast<size_t>(INT32_MAX) ? INT32_MAX : static_cast<int>(n);
}

int calculate_rpn_len(const LEXEME* rpn) {
    return rpn ? (count_entries(rpn) + 1) * static_cast<int>(sizeof(LEXEME)) : 0;
}

// W_EXPRESSION

void W_EXPRESSION::set_the_expr(const char* text) {
    delete_the_expr();
    if (!text) return;
    const int n = expr_text_len(text);
    the_expr = new_text(text, static_cast<size_t>(n), nullptr);
    if (!the_expr) return;
    expr_len = n;
    allocd_expr = 1;
}

void W_EXPRESSION::set_the_expr(char* text, int length) {
    delete_the_expr();
    the_expr = text;
    expr_len = length > 0 ? length : expr_text_len(text);
    allocd_expr = 0;
}

void W_EXPRESSION::delete_the_expr() {
    if (allocd_expr && the_expr) U_FREE(the_expr);
    the_expr = nullptr;
    expr_len = 0;
    allocd_expr = 0;
}

int W_EXPRESSION::compare_expr(const char* text, int length, int own_len) const {
    if (!text || !the_expr) return 1;
    const int own = own_len > 0 ? own_len : expr_len;
    const int theirs = length > 0 ? length : expr_text_len(text);
    if (own != theirs) return 1;
    return std::memcmp(the_expr, text, static_cast<size_t>(own)) == 0 ? 0 : 1;
}

// W_LEXED_EXPR

W_LEXED_EXPR::W_LEXED_EXPR(const char* text, LEXEME* rpn, TERM_TABLE* table)
    : rpn_ptr(rpn), allocd_rpn(1), term_tb(table) {
    set_the_expr(text);
    caculate_rpn_len();
}

W_LEXED_EXPR::~W_LEXED_EXPR() {
    if (allocd_rpn && rpn_ptr) U_FREE(rpn_ptr);
    rpn_ptr = nullptr;
}

bool W_LEXED_EXPR::copy_src_expr(const W_LEXED_EXPR* source) {
    if (source->what_class() != B_COLS) {
        set_the_expr(source->get_the_expr(), source->get_expr_len());
        return true;
    }
    // A select list's text without its ",rfa" suffix.
    const int n = source->get_expr_len() - rfa_suffix_len;
    if (n < 0) return false;
    char* text = new_text(source->get_the_expr(), static_cast<size_t>(n), nullptr);
    if (!text) return false;
    set_the_expr(text, n);
    allocd_expr = 1;
    return true;
}

bool W_LEXED_EXPR::set_RPN(const W_LEXED_EXPR* source) {
    if (allocd_rpn && rpn_ptr) U_FREE(rpn_ptr);
    rpn_ptr = nullptr;
    allocd_rpn = 0;
    if (source->what_class() != B_COLS) {
        rpn_ptr = source->get_rpn_ptr();
        rpn_len = source->get_rpn_len();
        return true;
    }
    // A select list's array without its last entry, the ROW operation.
    const int n = count_entries(source->get_rpn_ptr());
    if (n < 1) return false;
    rpn_ptr = new_rpn(source->get_rpn_ptr(), n - 1, nullptr);
    if (!rpn_ptr) return false;
    allocd_rpn = 1;
    caculate_rpn_len();
    return true;
}

// W_LEXED_EXPR_CURS

W_LEXED_EXPR_CURS::W_LEXED_EXPR_CURS(const char* text, LEXEME* rpn, TERM_TABLE* table,
                                     const char* cursor)
    : W_LEXED_EXPR(text, rpn, table) {
    b_type = B_CURS;
    set_curs_name(cursor);
}

void W_LEXED_EXPR_CURS::set_curs_name(const char* name) {
    std::memset(curs_name, 0, sizeof curs_name);
    if (name) std::strncpy(curs_name, name, MAX_CURSOR_LEN);
}

int W_LEXED_EXPR_CURS::compare_curs_name(const char* name) const {
    return std::strncmp(name ? name : "", curs_name, MAX_CURSOR_LEN) == 0 ? 0 : 1;
}

// W_LEXED_EXPR_SELECT

W_LEXED_EXPR_SELECT::~W_LEXED_EXPR_SELECT() {
    if (rpn_repl) U_FREE(rpn_repl);
    rpn_repl = nullptr;
}

void W_LEXED_EXPR_SELECT::make_rpn_repl() {
    if (rpn_repl) U_FREE(rpn_repl);
    rpn_repl = nullptr;
    if (rpn_len > 0) {
        rpn_repl = static_cast<LEXEME*>(U_MALLOC(static_cast<size_t>(rpn_len)));
        if (rpn_repl) std::memset(static_cast<void*>(rpn_repl), 0, static_cast<size_t>(rpn_len));
    }
}

// W_LEXED_EXPR_COLS

W_LEXED_EXPR_COLS::W_LEXED_EXPR_COLS(char* text, LEXEME* rpn, TERM_TABLE* table,
                                     const char* cursor) {
    b_type = B_COLS;
    set_curs_name(cursor);
    set_the_expr(text, 0);
    allocd_expr = 1;  // the internal select's buffer is the store's from now on
    rpn_ptr = rpn;
    allocd_rpn = 1;
    term_tb = table;
    caculate_rpn_len();
    make_rpn_repl();
}

int W_LEXED_EXPR_COLS::compare_src_expr(const char* text, int length) const {
    const int own = expr_len - rfa_suffix_len;
    if (own <= 0) return 1;
    return compare_expr(text, length, own);
}

bool W_LEXED_EXPR_COLS::copy_src_expr(const W_LEXED_EXPR* source) {
    if (source->what_class() != B_COLS) return false;
    set_the_expr(source->get_the_expr(), source->get_expr_len());
    return true;
}

bool W_LEXED_EXPR_COLS::set_RPN(const W_LEXED_EXPR* source) {
    if (source->what_class() != B_COLS) return false;
    if (allocd_rpn && rpn_ptr) U_FREE(rpn_ptr);
    rpn_ptr = source->get_rpn_ptr();
    rpn_len = source->get_rpn_len();
    allocd_rpn = 0;
    return true;
}

// W_LEXED_EXPR_COND

W_LEXED_EXPR_COND::W_LEXED_EXPR_COND(const char* text, LEXEME* rpn, TERM_TABLE* table,
                                     const char* cursor)
    : W_LEXED_EXPR_SELECT(text, rpn, table, cursor) {
    b_type = B_COND;
    make_rpn_repl();
}

// W_EXPR_NODE

int W_EXPR_NODE::copy_node_expr(const W_EXPR_NODE* source) {
    if (!source || !source->its_expr) return 0;
    const B_TYPE kind = source->its_expr->what_class();
    if (kind != B_LEXED && kind != B_CURS && kind != B_COLS && kind != B_COND) return 0;
    W_EXPR_LIST scratch;
    scratch.set_current(const_cast<W_EXPR_NODE*>(source));
    W_LEXED_EXPR* copy = scratch.derive_obj(kind);
    scratch.set_current(nullptr);
    if (!copy) return 1;
    delete its_expr;
    its_expr = copy;
    return 0;
}

// W_EXPR_LIST

W_EXPR_NODE* W_EXPR_LIST::create_node(W_LEXED_EXPR* expr) {
    return new (std::nothrow) W_EXPR_NODE(expr);
}

W_EXPR_NODE* W_EXPR_LIST::find_expr(const char* text, int length) {
    current = nullptr;
    for (W_EXPR_NODE* n = first; n; n = n->next) {
        if (n->its_expr->compare_src_expr(text, length) == 0) {
            current = n;
            return n;
        }
    }
    return nullptr;
}

W_EXPR_NODE* W_EXPR_LIST::find_curs(const char* text, int length, const char* cursor, bool* found,
                                    const TERM_TABLE* table) {
    *found = false;
    for (W_EXPR_NODE* n = current; n; n = n->next) {
        if (n->its_expr->compare_src_expr(text, length) != 0) {
            current = n->prev;
            return current;
        }
        if (n->its_expr->compare_curs_name(cursor) == 0 &&
            (!table || n->its_expr->get_term_tb() == table)) {
            current = n;
            *found = true;
            return n;
        }
    }
    current = last;
    return last;
}

W_EXPR_NODE* W_EXPR_LIST::find_class(const char* text, int length, const char* cursor, B_TYPE kind,
                                     bool* found, const TERM_TABLE* table) {
    *found = false;
    const bool by_cursor = cursor && *cursor;
    for (W_EXPR_NODE* n = current; n; n = n->next) {
        if (n->its_expr->compare_src_expr(text, length) != 0 ||
            (by_cursor && n->its_expr->compare_curs_name(cursor) != 0) ||
            (by_cursor && table && n->its_expr->get_term_tb() != table)) {
            current = n->prev;
            return current;
        }
        const B_TYPE k = n->its_expr->what_class();
        if (k < kind) continue;
        if (k > kind) {
            current = n->prev;
            return current;
        }
        current = n;
        *found = true;
        return n;
    }
    current = last;
    return last;
}

W_LEXED_EXPR* W_EXPR_LIST::derive_obj(B_TYPE kind) {
    if (!current || !current->its_expr) return nullptr;
    const W_LEXED_EXPR* source = current->its_expr;
    W_LEXED_EXPR* copy = nullptr;
    switch (kind) {
        case B_LEXED:
            copy = new (std::nothrow) W_LEXED_EXPR();
            break;
        case B_CURS:
            copy = new (std::nothrow) W_LEXED_EXPR_CURS();
            break;
        case B_COLS:
            // A select list's array needs ROW's holder term, which another kind lacks.
            if (source->what_class() != B_COLS) return nullptr;
            copy = new (std::nothrow) W_LEXED_EXPR_COLS();
            break;
        case B_COND:
            copy = new (std::nothrow) W_LEXED_EXPR_COND();
            break;
        default:
            return nullptr;
    }
    if (!copy) return nullptr;
    copy->set_term_tb(source->get_term_tb());
    copy->set_curs_name(source->get_curs_name());
    if (!copy->copy_src_expr(source) || !copy->set_RPN(source)) {
        delete copy;
        return nullptr;
    }
    if (kind == B_COLS || kind == B_COND) {
        auto* select = static_cast<W_LEXED_EXPR_SELECT*>(copy);
        select->make_rpn_repl();
        if (!select->get_rpn_repl()) {
            delete copy;
            return nullptr;
        }
    }
    return copy;
}

W_EXPR_NODE* W_EXPR_LIST::add_node_after(W_EXPR_NODE* after, W_EXPR_NODE* node) {
    if (!node) return nullptr;
    node->prev = after;
    node->next = after ? after->next : first;
    if (node->next)
        node->next->prev = node;
    else
        last = node;
    if (after)
        after->next = node;
    else
        first = node;
    current = node;
    return node;
}

W_EXPR_NODE* W_EXPR_LIST::add_node(W_EXPR_NODE* node) {
    if (!node) return nullptr;
    if (!first) {
        node->prev = node->next = nullptr;
        first = current = last = node;
        return node;
    }
    W_EXPR_NODE* after = current ? current : last;
    W_EXPR_NODE* keep = current;
    add_node_after(after, node);
    current = keep ? keep : node;
    return node;
}

W_EXPR_NODE* W_EXPR_LIST::locate(const char* text, int length, const char* cursor, B_TYPE kind,
                                 bool* append, const TERM_TABLE* table) {
    *append = false;
    if (!find_expr(text, length)) {
        *append = true;
        current = last;
        return last;
    }
    bool found = false;
    const bool by_cursor = kind != B_LEXED && cursor && *cursor;
    if (by_cursor) {
        W_EXPR_NODE* at = find_curs(text, length, cursor, &found, table);
        if (!found) return at;
    }
    W_EXPR_NODE* at = find_class(text, length, by_cursor ? cursor : nullptr, kind, &found, table);
    return at;
}

W_EXPR_NODE* W_EXPR_LIST::find_node(const char* text, int length, const char* cursor, B_TYPE kind,
                                    const TERM_TABLE* table) {
    if (!find_expr(text, length)) return nullptr;
    bool found = false;
    const bool by_cursor = kind != B_LEXED && cursor && *cursor;
    if (by_cursor) {
        find_curs(text, length, cursor, &found, table);
        // The text is stored for other cursors only: their arrays read those cursors'
        // columns, so the caller lexes the text again for this one.
        if (!found) return nullptr;
    }
    W_EXPR_NODE* at = find_class(text, length, by_cursor ? cursor : nullptr, kind, &found, table);
    if (found) return at;
    // Another kind of the same text (and cursor): current stands on a node of it.
    if (!at) return nullptr;
    if (kind == B_COLS) return nullptr;  // lexed again (see derive_obj)
    W_LEXED_EXPR* copy = derive_obj(kind);
    if (!copy) return kFindError;
    W_EXPR_NODE* node = create_node(copy);
    if (!node) {
        delete copy;
        return kFindError;
    }
    return add_node_after(at, node);
}

void W_EXPR_LIST::free_w_list() {
    W_EXPR_NODE* n = first;
    while (n) {
        W_EXPR_NODE* next = n->next;
        delete n;
        n = next;
    }
    first = current = last = nullptr;
}

int W_EXPR_LIST::count() const {
    int n = 0;
    for (W_EXPR_NODE* p = first; p; p = p->next) ++n;
    return n;
}

// The interface of the internal select.

int find_lex_block(lex_block* block) {
    if (!block || !block->text) return 2;
    if (block->text_len <= 0) block->text_len = expr_text_len(block->text);
    W_EXPR_LIST& list = W_EXPR_LIST::get_lx_list();
    W_EXPR_NODE* node =
        list.find_node(block->text, block->text_len, block->curs_name, block->kind, block->term_tb);
    if (node == W_EXPR_LIST::kFindError) return 2;
    if (!node) return 0;
    const W_LEXED_EXPR* e = node->get_its_expr();
    block->text = e->get_the_expr();
    block->curs_name = e->get_curs_name();
    block->rpn = e->get_rpn_ptr();
    block->rpn_len = e->get_rpn_len();
    block->term_tb = e->get_term_tb();
    block->rpn_repl = e->get_rpn_repl();
    return 1;
}

int store_lex_block(lex_block* block) {
    if (!block || !block->text || !block->rpn) return 1;
    W_LEXED_EXPR* e = nullptr;
    switch (block->kind) {
        case B_LEXED:
            e = new (std::nothrow) W_LEXED_EXPR(block->text, block->rpn, block->term_tb);
            break;
        case B_CURS:
            e = new (std::nothrow)
                W_LEXED_EXPR_CURS(block->text, block->rpn, block->term_tb, block->curs_name);
            break;
        case B_COLS:
            e = new (std::nothrow)
                W_LEXED_EXPR_COLS(block->text, block->rpn, block->term_tb, block->curs_name);
            break;
        case B_COND:
            e = new (std::nothrow)
                W_LEXED_EXPR_COND(block->text, block->rpn, block->term_tb, block->curs_name);
            break;
        default:
            return 1;
    }
    W_EXPR_NODE* node = nullptr;
    const bool complete = e && e->get_the_expr() &&
                          ((block->kind != B_COLS && block->kind != B_COND) || e->get_rpn_repl());
    if (complete) node = W_EXPR_LIST::create_node(e);
    if (!node) {
        // The array (and a select list's text) stay the caller's.
        if (e) {
            e->set_allocd_rpn(0);
            if (block->kind == B_COLS) e->set_allocd_expr(0);
            delete e;
        }
        return 1;
    }
    W_EXPR_LIST& list = W_EXPR_LIST::get_lx_list();
    const int length =
        block->kind == B_COLS ? e->get_expr_len() - rfa_suffix_len : e->get_expr_len();
    bool append = false;
    W_EXPR_NODE* at = list.locate(e->get_the_expr(), length, e->get_curs_name(), block->kind,
                                  &append, block->term_tb);
    list.add_node_after(at, node);
    block->text = e->get_the_expr();
    block->curs_name = e->get_curs_name();
    block->rpn_repl = e->get_rpn_repl();
    block->rpn_len = e->get_rpn_len();
    return 0;
}
