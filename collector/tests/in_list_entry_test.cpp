// One value's entry in an in-list.
#include "collector/transforms/in_list_entry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "testing/case_names.h"

namespace {

struct entry_case {
    std::string value;
    bool numeric;
    std::string entry;
};

class InListEntry : public ::testing::TestWithParam<entry_case> {};

TEST_P(InListEntry, Text) {
    const entry_case& k = GetParam();
    std::vector<char> out(static_cast<size_t>(in_list_entry_size(static_cast<int>(k.value.size()))),
                          '#');
    int n = in_list_entry(out.data(), k.value.data(), static_cast<int>(k.value.size()), k.numeric);
    EXPECT_EQ(std::string(out.data(), static_cast<size_t>(n)), k.entry);
    EXPECT_EQ(out[static_cast<size_t>(n)], '\0');
}

INSTANTIATE_TEST_SUITE_P(
    Table, InListEntry,
    ::testing::Values(entry_case{"ABC  ", false, "'ABC'"}, entry_case{"D", false, "'D'"},
                      entry_case{"    ", false, "' '"}, entry_case{"", false, "' '"},
                      entry_case{std::string("AB\0\0", 4), false, "'AB'"},
                      entry_case{"O'  ", false, "'O'''"}, entry_case{"it's", false, "'it''s'"},
                      entry_case{"   7", true, "   7"}, entry_case{"  12", true, "  12"}),
    case_names(&entry_case::entry));

}  // namespace
