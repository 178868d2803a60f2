#include "expr/memory_registry.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstddef>
#include <string>
#include <vector>

#include "expr/tests/expr_test_support.h"
#include "runtime/alloc.h"

namespace {

struct Node {
    long payload;
    Node* next;
};

struct Freed {
    void* block;
    void* next_at_free;  // the element's next pointer when it was released
    std::string what;
};
std::vector<Freed> freed;

void recording_free(void* block, const char* what) {
    freed.push_back({block, static_cast<Node*>(block)->next, what});
    u_free(block, __FILE__, __LINE__, what);
}

// Any block, recorded without looking inside.
void counting_free(void* block, const char* what) {
    freed.push_back({block, nullptr, what});
    u_free(block, __FILE__, __LINE__, what);
}

class Registry : public ::testing::Test {
  protected:
    void SetUp() override { freed.clear(); }
    void TearDown() override { set_m_free_routine(nullptr); }
    static Node* node(Node* next) {
        auto* n = static_cast<Node*>(U_MALLOC(sizeof(Node)));
        n->payload = 0;
        n->next = next;
        return n;
    }
};

int entries_for(const void* block) {
    int n = 0;
    for (M_LINK* l = M_MEM_HANDLER::get_chain()->get_anchor(); l; l = l->get_next_link())
        if (l->get_its_mem_chunk() == block) ++n;
    return n;
}

TEST_F(Registry, SameBlockTwiceIsRefused) {
    Node* block = node(nullptr);  // stays recorded for the life of the process
    EXPECT_EQ(register_memory(block, -1), 0);
    EXPECT_EQ(register_memory(block, -1), 2);
    EXPECT_EQ(register_memory(block, offsetof(Node, next)), 2);
    EXPECT_EQ(entries_for(block), 1);
}

TEST_F(Registry, ListIsFreedInOrderWithNextClearedFirst) {
    Node* third = node(nullptr);
    Node* second = node(third);
    Node* first = node(second);
    set_m_free_routine(recording_free);
    {
        M_CHAIN chain;
        EXPECT_EQ(chain.add_link(first, offsetof(Node, next)), 0);
        EXPECT_EQ(chain.get_anchor(), chain.get_last());
        chain.free_m_chain();
        EXPECT_EQ(chain.get_anchor(), nullptr);
        EXPECT_EQ(chain.get_last(), nullptr);
    }
    ASSERT_EQ(freed.size(), 3u);
    EXPECT_EQ(freed[0].block, first);
    EXPECT_EQ(freed[1].block, second);
    EXPECT_EQ(freed[2].block, third);
    for (const Freed& f : freed) {
        EXPECT_EQ(f.next_at_free, nullptr);
        EXPECT_EQ(f.what, "m_ptr");
    }
}

TEST_F(Registry, NegativeOffsetRecordsOneBlock) {
    Node* other = node(nullptr);
    Node* block = node(other);
    set_m_free_routine(recording_free);
    {
        M_CHAIN chain(block);  // single block: its next pointer is not followed
        ASSERT_NE(chain.get_anchor(), nullptr);
        EXPECT_EQ(chain.get_anchor()->get_kind(), M_LINK::SINGLE);
    }
    ASSERT_EQ(freed.size(), 1u);
    EXPECT_EQ(freed[0].block, block);
    EXPECT_EQ(freed[0].what, "its_mem_chunk");
    set_m_free_routine(nullptr);
    U_FREE(other);
}

TEST_F(Registry, ChainKeepsEntriesInOrder) {
    Node* a = node(nullptr);
    Node* b = node(nullptr);
    set_m_free_routine(counting_free);
    M_CHAIN chain;
    EXPECT_EQ(chain.add_link(a, -1), 0);
    EXPECT_EQ(chain.add_link(b, -1), 0);
    auto* duplicate = new M_LINK(a);
    EXPECT_EQ(chain.add_link(duplicate), 2);  // not added; still the caller's
    duplicate->drop_m_chunk();
    delete duplicate;
    EXPECT_EQ(chain.get_anchor()->get_its_mem_chunk(), a);
    EXPECT_EQ(chain.get_last()->get_its_mem_chunk(), b);
    EXPECT_EQ(chain.get_anchor()->get_next_link(), chain.get_last());
    chain.free_m_chain();
    ASSERT_EQ(freed.size(), 2u);
    EXPECT_EQ(freed[0].block, a);
    EXPECT_EQ(freed[1].block, b);
}

// Empties the registry of what earlier tests in this process recorded.
void fresh_registry() {
    free_loose_memory();
    M_MEM_HANDLER::mem_chain = new M_CHAIN();
}

// Lexes a text in a lexer of its own and gives back the term table it leaves; *ok tells
// whether the lexer produced a list.
TERM_TABLE* lexed_term_table(const char* text, bool* ok) {
    open_lexer(nullptr);
    expr_test::LexResult r;
    expr_test::lex(text, r);
    TERM_TABLE* anchor = nullptr;
    close_lexer(&anchor);
    *ok = r.list != nullptr;
    return anchor;
}

// These end the process's registry, so each runs in a child of its own.
using RegistryDeathTest = Registry;

TEST_F(RegistryDeathTest, NoRegistrationAfterTheRegistryIsGone) {
    EXPECT_EXIT(
        {
            free_loose_memory();
            Node* block = node(nullptr);
            _exit(register_memory(block, -1) == 1 && M_MEM_HANDLER::get_chain() == nullptr ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

// A term table whose first term was a function name: the registry follows the table, so
// freeing everything releases each remaining term once (a second free would abort under the
// address sanitizer) and nothing else.
TEST_F(RegistryDeathTest, TermTablesAreFreedThroughTheirOwner) {
    EXPECT_EXIT(
        {
            fresh_registry();
            bool lexed = false;
            TERM_TABLE* anchor = lexed_term_table("SUM(x) + y + z", &lexed);
            int terms = 0;
            for (TERM_TABLE* t = anchor; t; t = t->next) ++terms;
            set_m_free_routine(counting_free);
            free_loose_memory();
            // x, y, z and the owner cell.
            _exit(lexed && terms == 3 && freed.size() == 4 ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(RegistryDeathTest, ReleasedTablesAreForgotten) {
    EXPECT_EXIT(
        {
            fresh_registry();
            bool lexed = false;
            TERM_TABLE* anchor = lexed_term_table("a = 1", &lexed);
            free_perm_term_tb(anchor);
            set_m_free_routine(counting_free);
            free_loose_memory();
            _exit(freed.empty() ? 0 : 3);
        },
        ::testing::ExitedWithCode(0), "");
}

}  // namespace
