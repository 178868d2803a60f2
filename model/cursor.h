// The cursor record and the small records a cursor block hangs from it.
//
// These are plain, trivially copyable structs: the system copies them whole (if/else
// versions are whole copies of a cursor record). Field names and widths are the documented
// ones; fixed-width texts are char arrays, owned texts are char* from u_malloc. A cursor
// starts all zero (U_MALLOC + memset, or curs_new below).
//
// The bytes that leave the process (the "C-STATUS" answer) are not these structs: they are
// written by curs_status_encode (model/cursor_status.h) at fixed offsets.
#pragma once

#include <cstdint>
#include <type_traits>

// Records defined by the clause parsers, the versions, the evaluator and the collector.
// Only pointers to them live here.
struct curs;
struct columns;
struct row_data;
struct distrib;
struct sel_piece;
struct load_process;
struct pre_cursor;
struct iterate;
struct in_list;
struct base;
struct m_anch;
struct decode;
struct decode_op;
struct curslist;
struct col_ex_list;
struct it_where;
struct set_len;
struct sIfNode;
struct evaluation;
struct water;

// One collection window of a day: seconds after midnight; end_time is above 86400 when
// the window runs past midnight.
struct operate {
    operate* next;
    int32_t start_time;
    int32_t end_time;
};

// The shared whole-day window {null, 0, 86400}. Day chains that name no window point at
// it; it is never freed.
extern operate full_day;

// Frees a day's chain of windows up to its end or to full_day, which stays.
void free_operates(operate* o);

// A fetch exit: one row of the exits table, or a cursor's own copy of one.
struct fetch_ex {
    fetch_ex* prior;      // chain link of the exits table
    int16_t type;         // 1: the exit runs the cursor's script
    int16_t format_type;  // output format 1 to 5, or 9 for the internal formats
    char name[16];        // routine name
    int32_t option;       // 0 plain, 1 timed, 2 asynchronous (7 preset on one row)
    int32_t optval;       // time limit of a timed exit, seconds
};

// The text after one load keyword, in file order.
struct load_text {
    load_text* next;
    char* text;  // owned
};

// The SELECT text a cursor runs: len = text length + 1, then the text, its zero and one
// more zero. Allocate with sel_new (defs/select_lists.h); the text runs past the struct.
struct sel {
    int16_t len;
    char text[2];
};

// One column name of the model INSERT's column list, in list order.
struct host_cols {
    host_cols* next;
    char col_name[40];
};

// Conversion requested by a column-name prefix (INT!, FLOAT!, TS!, NS!).
enum : int16_t { CONV_NONE = 0, CONV_INT = 1, CONV_FLOAT = 2, CONV_TS = 3, CONV_NOSEND = 4 };

// Column functions requested by a prefix (MIN!, MAX!, AVG!, WAVG!, TREND!, SUM!, HW!, LW!,
// COUNT!).
enum : int16_t {
    COLF_NONE = 0,
    COLF_MIN = 1,
    COLF_MAX = 2,
    COLF_AVG = 3,
    COLF_WAVG = 4,
    COLF_TREND = 5,
    COLF_SUM = 6,
    COLF_HIGH_WATER = 7,
    COLF_LOW_WATER = 8,
    COLF_COUNT = 9
};

// One column of a cursor (one host variable of its block).
struct columns {
    columns* next;
    int16_t col_name_ll;  // length of col_name, at most 49
    char col_name[50];    // name without prefixes and without the part from "^" on
    int16_t orig_type;    // source data type (2 numeric)
    int16_t data_type;
    int16_t len;         // formatted data length
    int16_t oracle_len;  // source data length
    int16_t dbserver_len;
    int16_t col_function;  // COLF_*
    int16_t occurance;     // leading number of the host-variable word; 0 none
    water* water_ptr;      // high/low water value of a HW!/LW! column
    int32_t offset;        // offset of the value in the row text
    int16_t convert;       // CONV_*
    char* from;            // where the value is read
    int32_t fromOffset;
    int16_t* indicator;  // null indicator of the value
    columns* base_column;
    curs* base_cursor;
    int16_t qualified;      // 1: the word contained "."
    int16_t caret_ll;       // number after "^"; 0 none
    struct m_anch* m_anch;  // math clause producing this column
    int16_t col_no;         // ordinal in its cursor, from 1
    int16_t row_offset;
    struct decode_op* decode_op;
    struct col_ex_list* cxl_ptr;
};

// Hold reasons, the index of curs::held_stat.
enum eHeldStatus { H_GLB = 0, H_CUR = 1, H_VER = 2, H_MAX = 3 };

// The cursor record. Comments give the byte offset of each field in the 456-byte status
// record (model/cursor_status.h); in memory the layout is the compiler's.
struct curs {
    curs* next;                      // 0   next cursor of cur_anchor
    char cur_name[9];                // 4   1 to 8 characters, zero-terminated
    char last_time[15];              // 13  14-digit time of the last collection
    int32_t window_start;            // 28  relative seconds
    int32_t window_end;              // 32
    int32_t next_time;               // 36
    int32_t stale_time;              // 40
    int32_t stale;                   // 44
    int16_t cvirtual;                // 48
    int16_t empty;                   // 50
    int16_t demand;                  // 52
    int16_t once;                    // 54
    int16_t no_sql;                  // 56
    int32_t interval;                // 60
    int32_t last_iteration_start;    // 64
    int32_t this_iteration_start;    // 68
    int32_t this_iteration_end;      // 72
    int32_t execution_time;          // 76
    int32_t current_interval;        // 80
    sel* insert_select;              // 84
    char* table_name;                // 88  owned
    char* host_table;                // 92  owned
    int16_t has_hvs_in_sel;          // 96
    char* raw_insert_select;         // 100 owned
    char* insert;                    // 104 owned
    struct sel_piece* sel_piece;     // 108 owned
    int16_t num_hvs;                 // 112
    char* insert_where;              // 116 owned
    columns* insert_columns;         // 120
    int16_t num_cols;                // 124
    struct host_cols* host_cols;     // 128
    char held;                       // 132 'Y' held
    int16_t held_stat[3];            // 134 indexed by eHeldStatus
    int16_t bypass;                  // 140
    int16_t has_col_funct;           // 142
    int16_t has_min_max;             // 144
    row_data* min_max_row;           // 148
    row_data* column_data;           // 152
    row_data* first_row;             // 156
    row_data* last_row;              // 160
    int32_t row_size;                // 164
    int32_t limit;                   // 168
    int32_t totalDataRowsReturned;   // 172
    int32_t rowno;                   // 176
    int32_t count;                   // 180
    int32_t tiCount;                 // 184
    int32_t time_limit;              // 188
    int32_t length;                  // 192
    int16_t* nulls;                  // 196 owned
    int16_t changed;                 // 200
    int16_t history;                 // 202
    int16_t needs_history;           // 204
    int32_t klass;                   // 208
    int16_t samples;                 // 212
    int32_t sampleno;                // 216
    char* uuidbase;                  // 220 owned
    char* uuidpavc;                  // 224 owned
    char* uuidpcvc;                  // 228 owned
    int32_t rpc_version;             // 232
    int32_t objid;                   // 236
    int32_t set;                     // 240
    int16_t show_cursor;             // 244
    int16_t show_row;                // 246
    int16_t cols_set;                // 248
    int16_t build_routine;           // 250
    int16_t row_routine;             // 252
    load_text* loadt;                // 256
    struct load_process* loadp;      // 260
    struct pre_cursor* pre_cursor;   // 264
    struct iterate* iterate;         // 268
    struct in_list* in_list;         // 272
    struct base* base;               // 276
    struct m_anch* m_anch;           // 280
    curs* age_to;                    // 284
    char age_to_name[9];             // 288
    int16_t pre_age;                 // 298
    int16_t post_age;                // 300
    int32_t aged_to;                 // 304
    int32_t now_sec;                 // 308
    struct decode* decode;           // 312
    struct curslist* curslist;       // 316
    fetch_ex* fetch_exit;            // 320 owned copy of an exits row
    int16_t fetch_routine;           // 324
    int16_t start_after;             // 326
    int16_t stop_after;              // 328
    char* script;                    // 332 owned
    void* xlda;                      // 336
    int32_t sqlcode;                 // 340
    char ssqlcode[16];               // 344 16 blanks once edited
    struct col_ex_list* cxl_ptr;     // 360
    struct it_where* iterate_where;  // 364
    int16_t dummy;                   // 368
    int16_t conditional_dummy;       // 370
    char* dummy_text;                // 372
    struct set_len* set_len;         // 376
    int16_t sets_are_set_up;         // 380
    int16_t trace;                   // 382
    int16_t traced;                  // 384
    int16_t tracem;                  // 386
    char* buffer;                    // 388 owned
    void* cur_memory;                // 392 owned
    struct distrib* dist_ptr;        // 396
    void* db_data;                   // 400
    struct sIfNode* if_chain;        // 404
    struct sIfNode* parent_if;       // 408
    curs* if_tree;                   // 412
    curs* if_tree_place;             // 416
    curs* cur_version_list;          // 420
    char activation_time[15];        // 424
    struct evaluation* evaluation;   // 440
    operate* saturday_start;         // 444
    operate* sunday_start;           // 448
    operate* mon_fri_start;          // 452
};

static_assert(std::is_trivially_copyable_v<curs>);
static_assert(std::is_trivially_copyable_v<columns>);
static_assert(std::is_trivially_copyable_v<operate>);

// Holds the cursor (held 'Y'): the schedule skips it until the collection finds no hold
// reason left in held_stat (the callers that have a reason set it themselves).
inline void hold(curs* c) { c->held = 'Y'; }

// ---- What a cursor record owns ----------------------------------------------------------
// Every block a cursor record holds is one line of curs_for_each_owned below. The frees
// (del_curs, the collector's clean-up, an age-to target giving up its own definition), the
// copies (an if/else branch, an age-to copy) and the completion of a branch from its parent
// (merge_curs) all walk that list, so a field that comes to own a block is written down
// there once. The other pointer fields are links to records that live elsewhere (the chain,
// the versions, the IF nodes, the distributor, the evaluations) or into the rows.

// When a block is made, and so what a copy of the record does with it.
enum class curs_life : uint8_t {
    definition,  // read from the cursor file: every copy gets a private copy of its own
    clause,      // a clause's records: a branch gets copies (the clause code's), an age-to
                 // copy computes nothing and gets none
    run,         // made after the file is read or while the cursor runs: a copy starts without
};

// Who frees the block.
enum class curs_freer : uint8_t {
    record,   // the record's own frees (curs_free_owned), by the field's type
    clauses,  // the clause code, through del_curs_clauses_hook
    engine,   // the run-time code that made it, at the collector's clean-up
};

// What merge_curs does with the field of a branch.
enum class curs_merge : uint8_t {
    inherit,  // taken from the parent when the branch left it null
    parent,   // always the parent's
    keep,     // the branch's own
};

struct curs_owned {
    const char* name;
    curs_life life;
    curs_freer freer;
    curs_merge merge;
};

// Calls visit(member pointer, curs_owned) for every owned field of curs, in record order.
template <class Visit>
void curs_for_each_owned(Visit&& visit) {
    using L = curs_life;
    using F = curs_freer;
    using M = curs_merge;
    visit(&curs::insert_select, curs_owned{"insert_select", L::definition, F::record, M::inherit});
    visit(&curs::table_name, curs_owned{"table_name", L::definition, F::record, M::inherit});
    visit(&curs::host_table, curs_owned{"host_table", L::definition, F::record, M::inherit});
    visit(&curs::raw_insert_select,
          curs_owned{"raw_insert_select", L::definition, F::record, M::inherit});
    visit(&curs::insert, curs_owned{"insert", L::definition, F::record, M::inherit});
    visit(&curs::sel_piece, curs_owned{"sel_piece", L::run, F::engine, M::inherit});
    visit(&curs::insert_where, curs_owned{"insert_where", L::definition, F::record, M::inherit});
    visit(&curs::insert_columns,
          curs_owned{"insert_columns", L::definition, F::record, M::inherit});
    visit(&curs::host_cols, curs_owned{"host_cols", L::definition, F::record, M::inherit});
    visit(&curs::first_row, curs_owned{"first_row", L::run, F::record, M::keep});
    visit(&curs::nulls, curs_owned{"nulls", L::run, F::record, M::keep});
    // merge_curs inherits set_len and the three identifiers too, which the original list
    // left out, so that a value written after "endif" reaches a branch.
    visit(&curs::uuidbase, curs_owned{"uuidbase", L::definition, F::record, M::inherit});
    visit(&curs::uuidpavc, curs_owned{"uuidpavc", L::definition, F::record, M::inherit});
    visit(&curs::uuidpcvc, curs_owned{"uuidpcvc", L::definition, F::record, M::inherit});
    visit(&curs::loadt, curs_owned{"loadt", L::clause, F::record, M::inherit});
    // Built from loadt once the file is read, and again after a version change.
    visit(&curs::loadp, curs_owned{"loadp", L::run, F::clauses, M::inherit});
    visit(&curs::pre_cursor, curs_owned{"pre_cursor", L::clause, F::clauses, M::inherit});
    visit(&curs::iterate, curs_owned{"iterate", L::clause, F::clauses, M::inherit});
    visit(&curs::in_list, curs_owned{"in_list", L::clause, F::clauses, M::inherit});
    visit(&curs::base, curs_owned{"base", L::clause, F::clauses, M::inherit});
    visit(&curs::m_anch, curs_owned{"m_anch", L::clause, F::clauses, M::inherit});
    visit(&curs::decode, curs_owned{"decode", L::clause, F::clauses, M::inherit});
    // The post-cursors the decode actions queue.
    visit(&curs::curslist, curs_owned{"curslist", L::run, F::clauses, M::inherit});
    visit(&curs::fetch_exit, curs_owned{"fetch_exit", L::definition, F::record, M::inherit});
    visit(&curs::script, curs_owned{"script", L::definition, F::record, M::inherit});
    // The script exit's descriptor and its value buffer, cut from the select text.
    visit(&curs::xlda, curs_owned{"xlda", L::run, F::clauses, M::keep});
    visit(&curs::cxl_ptr, curs_owned{"cxl_ptr", L::clause, F::clauses, M::inherit});
    visit(&curs::iterate_where, curs_owned{"iterate_where", L::clause, F::clauses, M::inherit});
    visit(&curs::dummy_text, curs_owned{"dummy_text", L::run, F::record, M::keep});
    visit(&curs::set_len, curs_owned{"set_len", L::clause, F::clauses, M::inherit});
    visit(&curs::buffer, curs_owned{"buffer", L::run, F::clauses, M::keep});
    // The fetch memory of the SQL path, a fetch exit's result sets or a channel request
    // block; versions share it with their slot.
    visit(&curs::cur_memory, curs_owned{"cur_memory", L::run, F::engine, M::parent});
    visit(&curs::db_data, curs_owned{"db_data", L::run, F::engine, M::keep});
    visit(&curs::saturday_start,
          curs_owned{"saturday_start", L::definition, F::record, M::inherit});
    visit(&curs::sunday_start, curs_owned{"sunday_start", L::definition, F::record, M::inherit});
    visit(&curs::mon_fri_start, curs_owned{"mon_fri_start", L::definition, F::record, M::inherit});
}

// The time stamp a new cursor shows as its last collection.
inline constexpr const char base_time[] = "19900101010101";

// A new zeroed cursor from u_malloc with last_time = base_time and cur_version_list and
// if_tree_place pointing to itself (a cursor without versions). Never null.
curs* curs_new();
// A new zeroed column from u_malloc. Never null.
columns* columns_new();

// Frees every block of c that curs_for_each_owned gives to the record or to the clause
// code: first the clause records through del_curs_clauses_hook (it still sees
// the fetch exit), then the definition's texts, lists and windows, the rows, the null
// indicators and the dummy text. Those fields are then null (and last_row with the rows);
// the engine's blocks (sel_piece, cur_memory, db_data) are left to their owners. The
// record itself stays.
void curs_free_owned(curs* c);

// Gives c private copies of its definition blocks in place of those it was copied with
// (columns without water marks or bindings, windows ending in full_day kept shared) and
// clears its run-time blocks (and last_row with the rows); its clause records are left for
// the caller to copy or drop.
void curs_copy_definition(curs* c);
