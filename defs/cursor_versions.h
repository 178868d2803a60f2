// Cursor versions: if / else / endif inside a cursor block.
//
// While a block is read, "if" copies the record being filled into a true branch hung from
// an IF node, "else" copies the record as it stood outside the branch into a false branch,
// and "endif" returns to the enclosing record. At the end of the block the IF nodes are
// multiplied into a binary tree in which every path makes one decision per IF statement,
// every leaf (a version) is completed from its ancestors, and the versions are linked into
// a ring through cur_version_list. The cursor record in the main chain (the slot) holds a
// copy of the active version; before each interval collection the conditions are evaluated
// and, when they lead elsewhere, the slot is swapped with the chosen version.
//
// A branch gets private copies of every chain and owned text of the record it copies, so
// a clause written inside a branch applies to that branch only. Each cursor's conditions
// live on a term table of their own, so that a plain name binds to that cursor's column.
//
// All state is global and single-threaded.
#pragma once

#include <cstdint>

#include "expr/lexeme.h"

struct curs;
struct sel_piece;

struct sIfNode {
    sIfNode* next;        // next IF statement of the same block level
    LEXEME* condition;    // reverse Polish array of the condition (RPN_ENTRIES entries)
    curs* if_cursor;      // branch taken when the condition is true
    curs* else_cursor;    // branch taken when it is false; null: the parent record
    curs* parent_cursor;  // the record in whose block the IF stands
};
using IF_NODE = sIfNode;

// Decisions one path of the tree may hold, plus one (the stack of multiply_tree).
inline constexpr int if_stack_size = 50;
// Most versions one cursor may have.
inline constexpr int max_cursor_versions = 256;

// The innermost open IF node while a block is read; null otherwise.
extern IF_NODE* current_if;

// Forgets any IF left open by an earlier parse (current_if, and current_cursor of the
// expression engine). The cursor file calls it before it reads.
void reset_version_parse_state();

// "if": lexes the condition from *scan (to the end of the statement) on the cursor's
// condition table, hangs a new IF node with a true-branch copy of *p from the current
// record's if_chain and makes *p the copy. *scan is left one before the end of the
// condition. 0; 1 after "PIF0010", "PIF0030" (and "PIF0020"/"PIF0040").
int parse_if(curs** p, char** scan);
// The condition's reverse Polish array (parse_expression) from *scan; null when it does
// not lex. *scan is left one past the end of the condition.
LEXEME* parse_condition(char** scan);
// "else": *p becomes a false-branch copy of the open IF's parent record. 0; 1 "PIF0050".
int parse_else(curs** p);
// "endif": *p returns to the open IF's parent record. 0; 1 "PIF0070".
int parse_endif(curs** p);

// End of block on the cursor's own record w: builds the tree, the ring of versions and
// makes w the slot (a copy of the first version). A record without IF is its own only
// version. 0; 1 after "PIF0100", "PIF0120", "PIF0130", "PIF0150" (too many versions).
int edit_curs_version_set(curs* w);
// Expands the IF chains below w so that each path decides every IF statement once; stack
// holds if_stack_size entries, pos the level of w. 0 or 1.
int multiply_tree(curs* w, IF_NODE** stack, int pos);
// Advances the deepest entry below count that has a next sibling. Its position, or -1.
int update_stack(IF_NODE** stack, int count);
// A deep copy of one IF node with its branches (whole records, their IF chains copied);
// its next still names the source's sibling. Null after a message.
IF_NODE* copy_if_tree(const IF_NODE* node);
// Appends the versions below w, true branch first, to the list whose tail link is *tail;
// each branch is completed from its parent on the way down.
void edit_if_tree(curs* w, curs*** tail);
// Fills the fields of branch b that it left unset from its parent a; the name, times, hold
// mark and memory are always taken from a.
void merge_curs(curs* b, const curs* a);

// At start-up, after the cursor file: marks held versions (held_stat[H_VER]) and gives
// every version the next pointer of its slot.
void define_vers_chain();
// Evaluates the slot's conditions and, when they lead to another version, swaps it in.
// 1 changed, 0 unchanged or no versions, -1 failure ("CSL0005" to "CSL0030"; the slot is
// then untouched).
int select_cursor_version(curs* slot, const char* now);
// Before an interval collection: selects the version of every cursor that has versions
// (not virtual, not "%CURSOR", not an age-to target); after any change clears the column
// links (reset_all), reruns the editing passes and resets cols_set and sel_piece. 0; 1 when
// anything failed or there are no cursors.
int tune_up_cursor_versions(const char* now);
// Clears the column links (decode_op, m_anch, cxl_ptr) of every cursor with decodes, math
// or column exits, and the matched marks of its column exits.
void reset_all();

// Releases a cursor's selection pieces when a version change resets them (the collector's,
// which builds them); until installed they are only dropped from the cursor. Never null.
extern void (*free_sel_piece_hook)(sel_piece* piece);

// Number of versions in the ring of slot (1 for a cursor without IF).
int count_cursor_versions(const curs* slot);
