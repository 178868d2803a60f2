// The expression store: every select list and condition the internal select has lexed, kept
// for the life of the process so that a text is lexed once per cursor.
//
// An expression is an object of a small class family: W_EXPRESSION (the source text) and
// W_LEXED_EXPR (text, reverse Polish array, term table) with its subclasses bound to a cursor
// (W_LEXED_EXPR_CURS), with a work copy of the array (W_LEXED_EXPR_SELECT), and the two kinds
// the internal select uses, the select list (W_LEXED_EXPR_COLS, stored with the ",rfa" suffix
// and the ROW entry) and the condition (W_LEXED_EXPR_COND). The store is one process-wide
// doubly linked list (W_EXPR_LIST::lx_expr_list): nodes of one text stand together, among
// them the nodes of one cursor, among those the kinds ascend.
//
// Texts are compared up to and including their first ";" (the whole text when it has none).
// A lookup for a cursor that has no node of the text finds nothing: the caller lexes the text
// again for that cursor, since a lexed array's names are bound to the columns of the cursor
// it first ran on. A lookup for another kind of the same cursor derives a copy (a condition
// from a select list drops the suffix and the ROW entry); a select list is never derived from
// another kind (its array would lack ROW's holder), it is lexed again.
//
// The store owns the arrays and texts given to store_lex_block; nothing is removed before the
// process ends. Single-threaded.
#pragma once

#include <cstdint>

#include "expr/lexeme.h"
#include "expr/term_table.h"

// Kinds of stored expressions (what_class of each class).
enum B_TYPE : int32_t {
    B_LEXED = 1,   // W_LEXED_EXPR
    B_CURS = 2,    // W_LEXED_EXPR_CURS
    B_SELECT = 3,  // W_LEXED_EXPR_SELECT (abstract)
    B_COLS = 4,    // W_LEXED_EXPR_COLS: the select list of an internal select
    B_COND = 5,    // W_LEXED_EXPR_COND: the condition of an internal select
};

// The record exchanged with the callers of find_lex_block and store_lex_block.
struct lex_block {
    char* text;
    int text_len;  // 0: computed (up to and including the first ";")
    const char* curs_name;
    B_TYPE kind;
    LEXEME* rpn;       // the reverse Polish array
    int rpn_len;       // bytes: the entries including the terminating null
    LEXEME* rpn_repl;  // the work copy (room for rpn_len bytes); select kinds only
    TERM_TABLE* term_tb;
};

// Bytes of an array: its entries including the terminating null, times the entry size.
int calculate_rpn_len(const LEXEME* rpn);

// The ",rfa" suffix of stored select lists and its length.
inline constexpr const char rfa_suffix[] = ",rfa";
inline constexpr int rfa_suffix_len = 4;

class W_EXPRESSION {
  public:
    W_EXPRESSION() = default;
    ~W_EXPRESSION() { delete_the_expr(); }
    W_EXPRESSION(const W_EXPRESSION&) = delete;
    W_EXPRESSION& operator=(const W_EXPRESSION&) = delete;

    char* get_the_expr() const { return the_expr; }
    int get_expr_len() const { return expr_len; }
    // Copies the text up to its computed length (owned).
    void set_the_expr(const char* text);
    // Keeps the caller's pointer (not owned) with the given length (0: computed).
    void set_the_expr(char* text, int length);
    void set_allocd_expr(int16_t flag) { allocd_expr = flag; }
    int16_t get_allocd_expr() const { return allocd_expr; }
    void delete_the_expr();
    // 0 equal, 1 different. own_len 0 means expr_len; length 0 the text's computed length.
    int compare_expr(const char* text, int length, int own_len) const;
    int compare_expr(const char* text) const { return compare_expr(text, 0, 0); }
    int compare_expr(const W_EXPRESSION* other) const {
        return other ? compare_expr(other->the_expr, other->expr_len, 0) : 1;
    }

  protected:
    char* the_expr = nullptr;
    int expr_len = 0;
    int16_t allocd_expr = 0;
};

class W_LEXED_EXPR : public W_EXPRESSION {
  public:
    W_LEXED_EXPR() = default;
    // The store's constructor: the text is copied, the array adopted (owned), rpn_len computed.
    W_LEXED_EXPR(const char* text, LEXEME* rpn, TERM_TABLE* term_tb);
    virtual ~W_LEXED_EXPR();

    virtual void set_curs_name(const char*) {}
    // 0 equal, 1 different (compared without the ",rfa" suffix by the select-list class).
    virtual int compare_src_expr(const char* text, int length) const {
        return compare_expr(text, length, 0);
    }
    virtual int compare_curs_name(const char*) const { return 1; }
    virtual const char* get_curs_name() const { return ""; }
    virtual B_TYPE what_class() const { return B_LEXED; }
    virtual LEXEME* get_rpn_repl() const { return nullptr; }
    virtual void set_rpn_repl(LEXEME*) {}
    // Copies the text (owned); the select-list class keeps the pointer instead.
    virtual void set_src_expr(char* text) { set_the_expr(text); }
    // Takes the source's text and array (see derive_obj). false when memory failed.
    virtual bool copy_src_expr(const W_LEXED_EXPR* source);
    virtual bool set_RPN(const W_LEXED_EXPR* source);

    char* get_src_expr() const { return the_expr; }
    int get_src_expr_len() const { return expr_len; }
    LEXEME* get_rpn_ptr() const { return rpn_ptr; }
    void set_rpn_ptr(LEXEME* rpn) { rpn_ptr = rpn; }
    int get_rpn_len() const { return rpn_len; }
    void set_rpn_len(int len) { rpn_len = len; }
    void caculate_rpn_len() { rpn_len = calculate_rpn_len(rpn_ptr); }
    int16_t get_allocd_rpn() const { return allocd_rpn; }
    void set_allocd_rpn(int16_t flag) { allocd_rpn = flag; }
    B_TYPE get_b_type() const { return b_type; }
    void set_b_type(B_TYPE type) { b_type = type; }
    TERM_TABLE* get_term_tb() const { return term_tb; }
    void set_term_tb(TERM_TABLE* table) { term_tb = table; }

  protected:
    LEXEME* rpn_ptr = nullptr;
    int rpn_len = 0;
    int16_t allocd_rpn = 0;
    TERM_TABLE* term_tb = nullptr;
    B_TYPE b_type = B_LEXED;
};

class W_LEXED_EXPR_CURS : public W_LEXED_EXPR {
  public:
    W_LEXED_EXPR_CURS() { b_type = B_CURS; }
    W_LEXED_EXPR_CURS(const char* text, LEXEME* rpn, TERM_TABLE* term_tb, const char* cursor);

    // At most 8 characters (null: empty).
    void set_curs_name(const char* name) override;
    int compare_curs_name(const char* name) const override;
    const char* get_curs_name() const override { return curs_name; }
    B_TYPE what_class() const override { return B_CURS; }

  protected:
    char curs_name[MAX_CURSOR_LEN + 1] = {};
};

class W_LEXED_EXPR_SELECT : public W_LEXED_EXPR_CURS {
  public:
    ~W_LEXED_EXPR_SELECT() override;
    B_TYPE what_class() const override { return B_SELECT; }
    LEXEME* get_rpn_repl() const override { return rpn_repl; }
    void set_rpn_repl(LEXEME* repl) override { rpn_repl = repl; }
    virtual void ADT_making() = 0;
    // Gives the object a work copy with room for its array.
    void make_rpn_repl();

  protected:
    W_LEXED_EXPR_SELECT() { b_type = B_SELECT; }
    W_LEXED_EXPR_SELECT(const char* text, LEXEME* rpn, TERM_TABLE* term_tb, const char* cursor)
        : W_LEXED_EXPR_CURS(text, rpn, term_tb, cursor) {}
    LEXEME* rpn_repl = nullptr;
};

class W_LEXED_EXPR_COLS : public W_LEXED_EXPR_SELECT {
  public:
    W_LEXED_EXPR_COLS() { b_type = B_COLS; }
    // The text (which ends in ",rfa") is kept by pointer and owned from now on.
    W_LEXED_EXPR_COLS(char* text, LEXEME* rpn, TERM_TABLE* term_tb, const char* cursor);
    int compare_src_expr(const char* text, int length) const override;
    B_TYPE what_class() const override { return B_COLS; }
    void set_src_expr(char* text) override { set_the_expr(text, 0); }
    bool copy_src_expr(const W_LEXED_EXPR* source) override;
    bool set_RPN(const W_LEXED_EXPR* source) override;
    void ADT_making() override {}
};

class W_LEXED_EXPR_COND : public W_LEXED_EXPR_SELECT {
  public:
    W_LEXED_EXPR_COND() { b_type = B_COND; }
    W_LEXED_EXPR_COND(const char* text, LEXEME* rpn, TERM_TABLE* term_tb, const char* cursor);
    B_TYPE what_class() const override { return B_COND; }
    void ADT_making() override {}
};

class W_EXPR_NODE {
  public:
    explicit W_EXPR_NODE(W_LEXED_EXPR* expr) : its_expr(expr) {}
    ~W_EXPR_NODE() { delete its_expr; }
    W_EXPR_NODE(const W_EXPR_NODE&) = delete;
    W_EXPR_NODE& operator=(const W_EXPR_NODE&) = delete;

    W_LEXED_EXPR* get_its_expr() const { return its_expr; }
    W_EXPR_NODE* get_next() const { return next; }
    W_EXPR_NODE* get_prev() const { return prev; }
    // The node's expression becomes a copy of the source node's (kinds 1, 2, 4, 5): 0, or 1
    // when the copy could not be made; a source of another kind leaves the node as it is: 0.
    int copy_node_expr(const W_EXPR_NODE* source);

  private:
    friend class W_EXPR_LIST;
    W_LEXED_EXPR* its_expr;
    W_EXPR_NODE* prev = nullptr;
    W_EXPR_NODE* next = nullptr;
};

class W_EXPR_LIST {
  public:
    W_EXPR_LIST() = default;
    ~W_EXPR_LIST() { free_w_list(); }
    W_EXPR_LIST(const W_EXPR_LIST&) = delete;
    W_EXPR_LIST& operator=(const W_EXPR_LIST&) = delete;

    static W_EXPR_LIST& get_lx_list() { return lx_expr_list; }

    // The node of that text, cursor and kind, derived from a node of the same text and cursor
    // when only another kind is stored; null when none can serve (not stored, or a select
    // list of a text stored only as another kind); kFindError when a copy could not be made.
    // With a term table (not null), and a cursor, only nodes lexed on that table serve: a
    // parse names the variables of the table it was made on.
    W_EXPR_NODE* find_node(const char* text, int length, const char* cursor, B_TYPE kind,
                           const TERM_TABLE* table = nullptr);
    // The first node of that text, or null; current is left there.
    W_EXPR_NODE* find_expr(const char* text, int length);
    // Walks from current over the nodes of the same text. A node of that cursor (and of that
    // term table, when one is given): *found, current on it, the node returned. Otherwise the
    // node after which one belongs (null: at the front), current on it.
    W_EXPR_NODE* find_curs(const char* text, int length, const char* cursor, bool* found,
                           const TERM_TABLE* table = nullptr);
    // As find_curs, over the nodes of the same text and (when given) cursor and term table,
    // for the kind.
    W_EXPR_NODE* find_class(const char* text, int length, const char* cursor, B_TYPE kind,
                            bool* found, const TERM_TABLE* table = nullptr);
    // A new object of that kind copied from the current node's expression, or null (kind 3,
    // an unknown kind, a select list from another kind, no memory).
    W_LEXED_EXPR* derive_obj(B_TYPE kind);
    // Inserts after current (appends when there is none). Returns the node.
    W_EXPR_NODE* add_node(W_EXPR_NODE* node);
    W_EXPR_NODE* add_node(W_LEXED_EXPR* expr) { return add_node(create_node(expr)); }
    // Inserts after the given node (null: at the front); the node becomes current.
    W_EXPR_NODE* add_node_after(W_EXPR_NODE* after, W_EXPR_NODE* node);
    // A node holding expr, or null when memory failed.
    static W_EXPR_NODE* create_node(W_LEXED_EXPR* expr);
    // The node after which a node of that text, cursor, kind (and term table) belongs (null:
    // the front, or the end when *append); current is left on it.
    W_EXPR_NODE* locate(const char* text, int length, const char* cursor, B_TYPE kind, bool* append,
                        const TERM_TABLE* table = nullptr);
    // Deletes every node; the list is empty afterwards.
    void free_w_list();

    void set_current(W_EXPR_NODE* node) { current = node; }
    W_EXPR_NODE* get_current() const { return current; }
    void incr_current() { current = current ? current->next : first; }
    void decr_current() { current = current ? current->prev : last; }
    W_EXPR_NODE* get_prev_node() const { return current ? current->prev : last; }
    W_EXPR_NODE* get_first() const { return first; }
    int count() const;

    static W_EXPR_NODE* const kFindError;

  private:
    static W_EXPR_LIST lx_expr_list;
    W_EXPR_NODE* first = nullptr;
    W_EXPR_NODE* current = nullptr;
    W_EXPR_NODE* last = nullptr;
};

// Looks the block's text (length 0: computed), cursor name and kind up, and, when the block
// names a term table, only among the parses made on it. 1 found (text, cursor name, array,
// its length, work copy and term table filled in), 0 not stored, 2 error.
int find_lex_block(lex_block* block);
// Stores a freshly lexed expression: kinds 1, 2, 4, 5 (any other: 1). The store adopts the
// array (and, for a select list, the text buffer); the block's text, cursor name, work copy
// and array length are completed. 0 stored, 1 error.
int store_lex_block(lex_block* block);
