#include "runtime/chains.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <list>
#include <random>
#include <vector>

#include "runtime/trace.h"

namespace {

// A record that embeds a link as its first member, as every user of g_chain does.
struct Rec {
    g_chain link;
    int id;
};

// Walks the chain both ways and checks it against the model: count, first and last,
// next/prior symmetry and the getters.
void expect_matches(g_chain* anchor, const std::list<Rec*>& model) {
    ASSERT_EQ(anchor->count, static_cast<int>(model.size()));
    if (model.empty()) {
        EXPECT_EQ(anchor->next, nullptr);
        EXPECT_EQ(anchor->prior, nullptr);
        EXPECT_EQ(g_getFirst(anchor), nullptr);
        EXPECT_EQ(g_getLast(anchor), nullptr);
        return;
    }
    EXPECT_EQ(g_getFirst(anchor), model.front());
    EXPECT_EQ(g_getLast(anchor), model.back());
    EXPECT_EQ(model.front()->link.prior, nullptr);
    EXPECT_EQ(model.back()->link.next, nullptr);
    std::vector<Rec*> forward;
    for (auto* r = static_cast<Rec*>(g_getFirst(anchor)); r;
         r = static_cast<Rec*>(g_getNext(&r->link))) {
        forward.push_back(r);
        ASSERT_LE(forward.size(), model.size()) << "chain does not end";
    }
    EXPECT_TRUE(std::equal(forward.begin(), forward.end(), model.begin(), model.end()));
    std::vector<Rec*> backward;
    for (auto* r = static_cast<Rec*>(g_getLast(anchor)); r;
         r = static_cast<Rec*>(g_getPrior(&r->link))) {
        backward.push_back(r);
        ASSERT_LE(backward.size(), model.size()) << "chain does not end";
    }
    EXPECT_TRUE(std::equal(backward.begin(), backward.end(), model.rbegin(), model.rend()));
    int n = 1;
    for (Rec* r : model) EXPECT_EQ(g_getNth(anchor, n++), r);
    EXPECT_EQ(g_getNth(anchor, n), nullptr);
}

TEST(GChainModel, RandomLinksAndUnlinksMatchAList) {
    std::mt19937 rng(20261210);
    std::vector<Rec> recs(40);
    for (int i = 0; i < 40; ++i) recs[i] = Rec{{}, i};
    g_chain anchor{};
    std::list<Rec*> model;
    auto pos_of = [&](Rec* r) { return std::find(model.begin(), model.end(), r); };

    for (int step = 0; step < 3000; ++step) {
        Rec* r = &recs[rng() % recs.size()];
        bool on = pos_of(r) != model.end();
        int op = static_cast<int>(rng() % 6);
        if (on && op < 2) {
            // Unlink, checking the neighbour that the direction letter names.
            auto it = pos_of(r);
            Rec* next = std::next(it) == model.end() ? nullptr : *std::next(it);
            Rec* prior = it == model.begin() ? nullptr : *std::prev(it);
            static const char letters[] = "anbpxANBPX";
            char d = letters[rng() % 10];
            void* want = (d == 'a' || d == 'n' || d == 'A' || d == 'N')   ? next
                         : (d == 'b' || d == 'p' || d == 'B' || d == 'P') ? prior
                                                                          : r;
            EXPECT_EQ(g_dlink(&anchor, &r->link, d), want);
            EXPECT_EQ(r->link.next, nullptr);
            EXPECT_EQ(r->link.prior, nullptr);
            EXPECT_EQ(r->link.me, r);
            model.erase(it);
        } else if (on) {
            continue;
        } else if (op == 0) {
            // Unlinking a record that is not on the chain changes nothing.
            EXPECT_EQ(g_dlink(&anchor, &r->link, 'x'), nullptr);
        } else if (op == 1) {
            EXPECT_EQ(g_linkFirst(&anchor, &r->link, r), r);
            model.push_front(r);
        } else if (op == 2) {
            EXPECT_EQ(g_linkLast(&anchor, &r->link, r), r);
            model.push_back(r);
        } else {
            // op 5: the anchor as reference links first; op 3/4: after or before a
            // random member (an empty chain takes the null reference: "after the last").
            if (op == 5) {
                EXPECT_EQ(g_linkAfter(&anchor, &anchor, &r->link, r), r);
                model.push_front(r);
            } else if (model.empty()) {
                EXPECT_EQ(g_linkAfter(&anchor, nullptr, &r->link, r), r);
                model.push_back(r);
            } else {
                auto it = std::next(model.begin(), rng() % model.size());
                if (op == 3) {
                    g_linkAfter(&anchor, &(*it)->link, &r->link, r);
                    model.insert(std::next(it), r);
                } else {
                    g_linkBefore(&anchor, &(*it)->link, &r->link, r);
                    model.insert(it, r);
                }
            }
        }
        ASSERT_NO_FATAL_FAILURE(expect_matches(&anchor, model)) << "step " << step;
    }
}

TEST(GChain, FirstElementOfAnEmptyChain) {
    g_chain anchor{};
    Rec r{{}, 1};
    EXPECT_EQ(g_linkAfter(&anchor, nullptr, &r.link, &r), &r);
    EXPECT_EQ(anchor.next, &r.link);
    EXPECT_EQ(anchor.prior, &r.link);
    EXPECT_EQ(r.link.next, nullptr);
    EXPECT_EQ(r.link.prior, nullptr);
    EXPECT_EQ(anchor.count, 1);
}

TEST(GChain, UnlinkOfTheOnlyElementEmptiesTheAnchor) {
    for (char d : {'N', 'x'}) {
        g_chain anchor{};
        Rec r{{}, 1};
        g_linkLast(&anchor, &r.link, &r);
        void* got = g_dlink(&anchor, &r.link, d);
        EXPECT_EQ(got, d == 'N' ? nullptr : &r) << d;
        EXPECT_EQ(anchor.next, nullptr);
        EXPECT_EQ(anchor.prior, nullptr);
        EXPECT_EQ(anchor.count, 0);
        // A second unlink must not touch the (now empty) anchor or the count.
        EXPECT_EQ(g_dlink(&anchor, &r.link, d), nullptr);
        EXPECT_EQ(anchor.count, 0);
    }
}

TEST(GChain, UnlinkOfAStrangerKeepsTheChain) {
    g_chain anchor{};
    Rec a{{}, 1}, stranger{{}, 2};
    g_linkLast(&anchor, &a.link, &a);
    EXPECT_EQ(g_dlink(&anchor, &stranger.link, 'x'), nullptr);
    EXPECT_EQ(anchor.next, &a.link);
    EXPECT_EQ(anchor.prior, &a.link);
    EXPECT_EQ(anchor.count, 1);
}

TEST(GChain, NullArgumentsDoNothing) {
    g_chain anchor{};
    Rec r{{}, 1};
    EXPECT_EQ(g_linkLast(nullptr, &r.link, &r), nullptr);
    EXPECT_EQ(g_linkLast(&anchor, nullptr, &r), nullptr);
    EXPECT_EQ(anchor.count, 0);
    EXPECT_EQ(g_dlink(&anchor, nullptr, 'x'), nullptr);
    EXPECT_EQ(g_getNth(nullptr, 1), nullptr);
    EXPECT_EQ(g_getNext(nullptr), nullptr);
    EXPECT_EQ(g_getPrior(nullptr), nullptr);
}

TEST(GChain, NthAndTheRecordlessLink) {
    g_chain anchor{};
    Rec a{{}, 1};
    g_chain bare{};
    g_linkLast(&anchor, &a.link, &a);
    g_linkLast(&anchor, &bare, nullptr);
    EXPECT_EQ(g_getNth(&anchor, 0), &a);
    EXPECT_EQ(g_getNth(&anchor, 1), &a);
    EXPECT_EQ(g_getNth(&anchor, -5), &a);
    // A link linked without a record is found by the walk but not by g_getNth.
    EXPECT_EQ(g_getNext(&a.link), &bare);
    EXPECT_EQ(g_getNth(&anchor, 2), nullptr);
    EXPECT_EQ(g_getNth(&anchor, 3), nullptr);
}

// Every trace level on for its lifetime; the trace lines are kept off the output.
struct AllTraces {
    int16_t saved[10];
    int16_t saved_all = trace_all;
    AllTraces() {
        std::copy(my_trace_all, my_trace_all + 10, saved);
        std::fill(my_trace_all, my_trace_all + 10, int16_t{23});
        trace_all = 1;
        testing::internal::CaptureStdout();
        testing::internal::CaptureStderr();
    }
    ~AllTraces() {
        testing::internal::GetCapturedStdout();
        testing::internal::GetCapturedStderr();
        std::copy(saved, saved + 10, my_trace_all);
        trace_all = saved_all;
    }
};

// --- f_chain ---

std::vector<std::string> lines_of(f_chain* anchor) {
    std::vector<std::string> out;
    for (f_chain* e = f_getNext(anchor); e; e = f_getNext(e)) {
        out.emplace_back(e->line ? e->line : "(null)");
        if (out.size() > 1000) break;
    }
    return out;
}

TEST(FChainModel, RandomLinksAndUnlinksMatchAList) {
    std::mt19937 rng(7);
    f_chain anchor{};
    std::list<f_chain*> model;
    std::vector<f_chain*> loose;  // unlinked elements we still own
    for (int step = 0; step < 2000; ++step) {
        int op = static_cast<int>(rng() % 5);
        if (op <= 1 || model.empty()) {
            f_chain* e = f_chainAdd(std::to_string(step).c_str(), step, 0, nullptr);
            if (op == 0 || model.empty()) {
                // Through the anchor or through any element of the chain.
                f_chain* via =
                    model.empty() ? &anchor : *std::next(model.begin(), rng() % model.size());
                if (rng() % 2) {
                    EXPECT_EQ(f_linkLast(via, e), e);
                    model.push_back(e);
                } else {
                    EXPECT_EQ(f_linkFirst(via, e), e);
                    model.push_front(e);
                }
            } else {
                auto it = std::next(model.begin(), rng() % model.size());
                if (rng() % 2) {
                    f_linkAfter(*it, e);
                    model.insert(std::next(it), e);
                } else {
                    f_linkBefore(*it, e);
                    model.insert(it, e);
                }
            }
            EXPECT_EQ(e->anchor, &anchor);
        } else if (op == 2) {
            auto it = std::next(model.begin(), rng() % model.size());
            f_chain* e = *it;
            f_chain* next = std::next(it) == model.end() ? nullptr : *std::next(it);
            EXPECT_EQ(f_dlinkFree(e, 'n'), next);
            model.erase(it);
        } else if (op == 3) {
            auto it = std::next(model.begin(), rng() % model.size());
            f_chain* e = *it;
            f_chain* prior = it == model.begin() ? nullptr : *std::prev(it);
            EXPECT_EQ(f_dlink(e, 'P'), prior);
            EXPECT_EQ(e->anchor, nullptr);
            model.erase(it);
            loose.push_back(e);
        } else if (!loose.empty()) {
            // Unlinking an element that is no longer linked changes nothing.
            int before = anchor.count;
            EXPECT_EQ(f_dlink(loose.back(), 'x'), nullptr);
            EXPECT_EQ(anchor.count, before);
        }
        ASSERT_EQ(anchor.count, static_cast<int>(model.size())) << "step " << step;
        std::vector<std::string> want;
        for (f_chain* e : model) want.emplace_back(e->line);
        ASSERT_EQ(lines_of(&anchor), want) << "step " << step;
        if (!model.empty()) {
            ASSERT_EQ(anchor.next, model.front());
            ASSERT_EQ(anchor.prior, model.back());
            ASSERT_EQ(model.front()->prior, nullptr);
            ASSERT_EQ(model.back()->next, nullptr);
            std::vector<f_chain*> back;
            for (f_chain* e = anchor.prior; e && back.size() <= model.size(); e = f_getPrior(e))
                back.push_back(e);
            ASSERT_TRUE(std::equal(back.begin(), back.end(), model.rbegin(), model.rend()));
        } else {
            ASSERT_EQ(anchor.next, nullptr);
            ASSERT_EQ(anchor.prior, nullptr);
        }
    }
    for (f_chain* e : loose) f_dlinkFree(e, 'x');
    f_chainFreeAll(&anchor);
    EXPECT_EQ(anchor.next, nullptr);
    EXPECT_EQ(anchor.prior, nullptr);
    EXPECT_EQ(anchor.count, 0);
}

TEST(FChain, AddCopiesTheLine) {
    char text[] = "hello";
    f_chain* e = f_chainAdd(text, 3, 4, text);
    text[0] = 'J';
    EXPECT_STREQ(e->line, "hello");
    EXPECT_EQ(e->size, 5);
    EXPECT_EQ(e->code, 3);
    EXPECT_EQ(e->count, 4);
    EXPECT_EQ(e->nots, text);
    EXPECT_EQ(e->anchor, nullptr);
    EXPECT_EQ(f_dlinkFree(e, 'n'), nullptr);

    f_chain* none = f_chainAdd(nullptr, 0, 0, nullptr);
    EXPECT_EQ(none->line, nullptr);
    EXPECT_EQ(none->size, 0);
    f_dlinkFree(none, 'x');
}

TEST(FChain, AddLastThroughAnyElementAppends) {
    f_chain anchor{};
    f_chain* a = f_chainAddLast(&anchor, "a", 1, 0, nullptr);
    f_chainAddLast(a, "b", 2, 0, nullptr);
    f_chainAddLast(a, "c", 3, 0, nullptr);
    EXPECT_EQ(lines_of(&anchor), (std::vector<std::string>{"a", "b", "c"}));
    EXPECT_EQ(anchor.count, 3);
    EXPECT_EQ(f_chainAddLast(nullptr, "x", 0, 0, nullptr), nullptr);
    f_chainFreeAll(a);  // through an element, too
    EXPECT_EQ(anchor.count, 0);
    EXPECT_EQ(anchor.next, nullptr);
}

TEST(FChain, FreeAllOfAnEmptyChainLeavesItEmpty) {
    f_chain anchor{};
    f_chainFreeAll(&anchor);
    f_chainFreeAll(nullptr);
    EXPECT_EQ(anchor.count, 0);
    EXPECT_EQ(anchor.next, nullptr);
}

TEST(FChain, UnlinkKeepsTheElementsOwnNeighbours) {
    f_chain anchor{};
    f_chain* a = f_chainAddLast(&anchor, "a", 0, 0, nullptr);
    f_chain* b = f_chainAddLast(&anchor, "b", 0, 0, nullptr);
    f_chain* c = f_chainAddLast(&anchor, "c", 0, 0, nullptr);
    EXPECT_EQ(f_dlink(b, 'x'), b);
    EXPECT_EQ(b->next, c);
    EXPECT_EQ(b->prior, a);
    EXPECT_EQ(a->next, c);
    EXPECT_EQ(c->prior, a);
    f_dlinkFree(b, 'x');
    f_chainFreeAll(&anchor);
}

TEST(Chains, TracedOperationsBehaveAlike) {
    AllTraces on;
    g_chain ga{};
    Rec r{{}, 1};
    g_linkFirst(&ga, &r.link, &r);
    EXPECT_EQ(g_dlink(&ga, &r.link, 'x'), &r);
    f_chain fa{};
    f_chain* e = f_chainAddLast(&fa, "traced", 1, 0, nullptr);
    f_linkFirst(&fa, f_chainAdd(nullptr, 2, 0, nullptr));
    f_dlink(e, 'x');
    f_dlinkFree(e, 'x');
    f_chainFreeAll(&fa);
    EXPECT_EQ(fa.count, 0);
}

}  // namespace
