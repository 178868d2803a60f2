// Every block a cursor record owns is freed by each of the frees, copied deep by the
// copies and completed by the version merge, as the one list of owned fields says: a
// cursor with every owned field set goes through each of them.
#include <gtest/gtest.h>

#if defined(__SANITIZE_ADDRESS__)
// The sanitizer runtime's answer whether p is a live block of its allocator (declared here:
// the compiler's sanitizer headers do not all carry it).
extern "C" int __sanitizer_get_ownership(const volatile void* p);
#endif

#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "acquire/result_sets.h"
#include "collector/startup/cleanup.h"
#include "collector/startup/engine_hooks.h"
#include "collector/transforms/age_to.h"
#include "collector/transforms/host_vars.h"
#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/clause_loads.h"
#include "defs/clause_math.h"
#include "defs/cursor_versions.h"
#include "defs/select_lists.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/trace.h"
#include "testing/log_capture.h"

namespace {

// Whether the allocator still holds p as a live block (ASan's view; freed blocks wait in
// its quarantine, so an address is not handed out again meanwhile).
bool live(const void* p) {
#if defined(__SANITIZE_ADDRESS__)
    return __sanitizer_get_ownership(p) != 0;
#else
    (void)p;
    return true;
#endif
}

template <class T>
T* zeroed() {
    auto* p = static_cast<T*>(U_MALLOC(sizeof(T)));
    std::memset(static_cast<void*>(p), 0, sizeof(T));
    return p;
}

char* text(const char* s) {
    auto* p = static_cast<char*>(U_MALLOC(std::strlen(s) + 1));
    std::strcpy(p, s);
    return p;
}

// ---- one block (or a chain of two) for every owned field, by its type ------------------

void fill(char*& p, const curs_owned& how) { p = text(how.name); }
void fill(sel*& p, const curs_owned&) { p = sel_new("SELECT A FROM T", 15); }
void fill(int16_t*& p, const curs_owned&) {
    p = static_cast<int16_t*>(U_MALLOC(4 * sizeof(int16_t)));
}
void fill(operate*& p, const curs_owned&) {
    p = zeroed<operate>();
    p->next = zeroed<operate>();
}
void fill(columns*& p, const curs_owned&) {
    p = columns_new();
    p->water_ptr = zeroed<water>();
    p->next = columns_new();
}
void fill(host_cols*& p, const curs_owned&) {
    p = zeroed<host_cols>();
    p->next = zeroed<host_cols>();
}
void fill(load_text*& p, const curs_owned&) {
    p = zeroed<load_text>();
    p->text = text("A = 1");
}
void fill(row_data*& p, const curs_owned&) {
    p = row_data_new(8);
    p->next = row_data_new(8);
}
void fill(void*& p, const curs_owned& how) {
    // Filled in by the caller: the result sets hang from the anchor.
    if (std::strcmp(how.name, "xlda") == 0) p = xsqlda_with_indicators(2);
}
template <class T>
void fill(T*& p, const curs_owned&) {
    p = zeroed<T>();
}

// A cursor with every owned field set. It has a fetch exit, so its fetch memory is the
// exit's anchor with one result set.
curs* full_cursor(const char* name) {
    curs* c = curs_new();
    std::strcpy(c->cur_name, name);
    curs_for_each_owned([c](auto field, const curs_owned& how) { fill(c->*field, how); });
    c->last_row = c->first_row->next;
    auto* anchor = DBX_init(nullptr, nullptr, nullptr);
    c->cur_memory = anchor;
    c->db_data = DB_DATA_init(anchor, nullptr, 1);
    ROW_DATA_init(static_cast<_anchorDBdata*>(c->db_data));
    return c;
}

// ---- the blocks one record holds ------------------------------------------------------

struct block {
    std::string field;
    const void* at;
};

template <class T>
void chain_blocks(const char* field, T* head, std::vector<block>& out) {
    for (T* r = head; r != nullptr && static_cast<const void*>(r) != &full_day; r = r->next)
        out.push_back({field, r});
}
void blocks_of(const char* f, columns* p, std::vector<block>& out) {
    chain_blocks(f, p, out);
    for (columns* col = p; col != nullptr; col = col->next)
        if (col->water_ptr != nullptr) out.push_back({std::string(f) + ".water", col->water_ptr});
}
void blocks_of(const char* f, load_text* p, std::vector<block>& out) {
    chain_blocks(f, p, out);
    for (load_text* l = p; l != nullptr; l = l->next)
        out.push_back({std::string(f) + ".text", l->text});
}
void blocks_of(const char* f, operate* p, std::vector<block>& out) { chain_blocks(f, p, out); }
void blocks_of(const char* f, host_cols* p, std::vector<block>& out) { chain_blocks(f, p, out); }
void blocks_of(const char* f, row_data* p, std::vector<block>& out) { chain_blocks(f, p, out); }
template <class T>
void blocks_of(const char* f, T* p, std::vector<block>& out) {
    if (p != nullptr) out.push_back({f, p});
}

// The blocks of c's owned fields whose freer is one of those given (all when none).
std::vector<block> blocks(curs* c, std::set<curs_freer> freers = {}) {
    std::vector<block> out;
    curs_for_each_owned([&](auto field, const curs_owned& how) {
        if (freers.empty() || freers.count(how.freer) != 0) blocks_of(how.name, c->*field, out);
    });
    return out;
}

std::string still_live(const std::vector<block>& bs) {
    std::string out;
    for (const block& b : bs)
        if (live(b.at)) out += b.field + " ";
    return out;
}

std::string gone(const std::vector<block>& bs) {
    std::string out;
    for (const block& b : bs)
        if (!live(b.at)) out += b.field + " ";
    return out;
}

class CursorOwned : public ::testing::Test {
  protected:
    void SetUp() override {
#if !defined(__SANITIZE_ADDRESS__)
        GTEST_SKIP() << "whether a block was freed is asked of AddressSanitizer";
#endif
        install_engine_hooks();
        saved_anchor_ = cur_anchor;
        saved_level_ = my_trace_all[7];
        cur_anchor = nullptr;
    }
    void TearDown() override {
        cur_anchor = saved_anchor_;
        my_trace_all[7] = saved_level_;
        del_curs_hook = free_all_cursors;
    }
    // Frees what c still holds and the record: the collector's clean-up.
    static void free_whole(curs* c) {
        curs* saved = cur_anchor;
        cur_anchor = c;
        c->next = nullptr;
        free_all_cursors();
        cur_anchor = saved;
    }

    LogCapture log_;
    curs* saved_anchor_ = nullptr;
    int16_t saved_level_ = 0;
};

// The full cursor really has every owned field set, so the tests below see all of them.
TEST_F(CursorOwned, TheFixtureSetsEveryOwnedField) {
    curs* c = full_cursor("FULL");
    curs_for_each_owned(
        [c](auto field, const curs_owned& how) { EXPECT_NE(c->*field, nullptr) << how.name; });
    free_whole(c);
}

TEST_F(CursorOwned, TheRecordsOwnFreeReleasesAllButTheEnginesBlocks) {
    curs* c = full_cursor("FULL");
    const std::vector<block> own = blocks(c, {curs_freer::record, curs_freer::clauses});
    sel_piece* piece = c->sel_piece;
    curs_free_owned(c);
    EXPECT_EQ(still_live(own), "");
    curs_for_each_owned([c](auto field, const curs_owned& how) {
        if (how.freer != curs_freer::engine) {
            EXPECT_EQ(c->*field, nullptr) << how.name;
        }
    });
    EXPECT_EQ(c->last_row, nullptr);
    // The fetch exit's result sets went with the clause code; the pieces are the engine's.
    EXPECT_EQ(c->cur_memory, nullptr);
    EXPECT_EQ(c->sel_piece, piece);
    free_sel_pieces(piece);
    U_FREE(c);
}

// The model's own release, the hook's value before the collector installs its own.
void (*const model_del_curs)() = del_curs_hook;

// del_curs as every layer below the collector has it (no collector hook, in the memory-
// tracing mode).
void del_curs_without_the_collector() {
    del_curs_hook = model_del_curs;
    my_trace_all[7] = 1;
    del_curs();
}

// That del_curs and the collector's clean-up leave nothing of the cursor; only the
// collector frees the selection pieces, which are its own.
TEST_F(CursorOwned, EveryFreeOfTheListReleasesEveryBlock) {
    struct way {
        const char* name;
        void (*free_list)();
        bool frees_pieces;
    };
    for (const way& w : {way{"del_curs", del_curs_without_the_collector, false},
                         way{"free_all_cursors", free_all_cursors, true}}) {
        curs* c = full_cursor("FULL");
        std::vector<block> all = blocks(c);
        sel_piece* piece = c->sel_piece;
        cur_anchor = c;
        w.free_list();
        EXPECT_EQ(cur_anchor, nullptr) << w.name;
        if (!w.frees_pieces) {
            std::erase_if(all, [](const block& b) { return b.field == "sel_piece"; });
            free_sel_pieces(piece);
        }
        EXPECT_EQ(still_live(all), "") << w.name;
        EXPECT_TRUE(log_.has("Freeing storage for cursor:FULL")) << w.name;
    }
}

// An if/else branch gets private copies of the definition and of the clause records, and
// starts without run-time blocks: freeing it leaves its parent whole.
TEST_F(CursorOwned, ABranchCopiesDefinitionAndClausesDeep) {
    curs* parent = full_cursor("FULL");
    reset_version_parse_state();
    char condition[] = "1 = 1";
    char* scan = condition;
    curs* branch = parent;
    ASSERT_EQ(parse_if(&branch, &scan), 0) << log_.text();
    ASSERT_NE(branch, parent);
    curs_for_each_owned([&](auto field, const curs_owned& how) {
        if (how.life == curs_life::run) {
            EXPECT_EQ(branch->*field, nullptr) << how.name;
        } else {
            EXPECT_NE(branch->*field, nullptr) << how.name;
            EXPECT_NE(branch->*field, parent->*field) << how.name;
        }
    });
    const std::vector<block> mine = blocks(branch);
    const std::vector<block> theirs = blocks(parent);
    for (const block& b : mine)
        for (const block& t : theirs) EXPECT_NE(b.at, t.at) << b.field << " is shared";
    sIfNode* node = parent->if_chain;
    curs_free_owned(branch);
    U_FREE(branch);
    EXPECT_EQ(gone(theirs), "");
    U_FREE(node->condition);
    U_FREE(node);
    parent->if_chain = nullptr;
    reset_version_parse_state();
    free_whole(parent);
}

// An age-to copy gets private copies of the definition and nothing else: it computes
// nothing and does not run. The clean-up frees both records whole.
TEST_F(CursorOwned, AnAgeToCopyCopiesTheDefinitionDeep) {
    curs* source = full_cursor("SRC");
    curs* copy = curs_new();
    std::strcpy(copy->cur_name, "COPY");
    ASSERT_EQ(make_age_to_copy(copy, source), 0);
    curs_for_each_owned([&](auto field, const curs_owned& how) {
        if (how.life == curs_life::definition) {
            EXPECT_NE(copy->*field, nullptr) << how.name;
            EXPECT_NE(copy->*field, source->*field) << how.name;
        } else {
            EXPECT_EQ(copy->*field, nullptr) << how.name;
        }
    });
    std::vector<block> all = blocks(copy);
    for (const block& b : all)
        for (const block& t : blocks(source)) EXPECT_NE(b.at, t.at) << b.field << " is shared";
    const std::vector<block> theirs = blocks(source);
    all.insert(all.end(), theirs.begin(), theirs.end());
    source->next = copy;
    cur_anchor = source;
    free_all_cursors();
    EXPECT_EQ(still_live(all), "");
}

// A branch that left an owned field unset takes its parent's (the parent's fetch memory
// always); one it set keeps its own; the run-time blocks are its own.
TEST_F(CursorOwned, TheMergeCompletesABranchFromItsParent) {
    curs* parent = full_cursor("FULL");
    curs* branch = curs_new();
    char* own_table = text("MINE");
    branch->table_name = own_table;
    merge_curs(branch, parent);
    curs_for_each_owned([&](auto field, const curs_owned& how) {
        if (how.merge == curs_merge::keep) {
            EXPECT_EQ(branch->*field, nullptr) << how.name;
        } else if (std::strcmp(how.name, "table_name") != 0) {
            EXPECT_EQ(branch->*field, parent->*field) << how.name;
        }
    });
    EXPECT_EQ(branch->table_name, own_table);
    U_FREE(own_table);
    U_FREE(branch);
    free_whole(parent);
}

}  // namespace
