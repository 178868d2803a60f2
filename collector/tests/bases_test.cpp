#include "collector/transforms/bases.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "collector/tests/transform_fixture.h"
#include "defs/clause_loads.h"
#include "defs/xsqlda.h"
#include "testing/case_names.h"
#include "testing/log_capture.h"

namespace {

using xform::append_row;
using xform::column;
using xform::cursor_list;

size_t occurrences(const std::string& text, const std::string& id) {
    size_t n = 0;
    for (size_t p = text.find(id); p != std::string::npos; p = text.find(id, p + 1)) ++n;
    return n;
}

// A fetch descriptor of named values; a null value is a NULL.
class descriptor {
  public:
    descriptor(std::initializer_list<std::pair<const char*, const char*>> cols) {
        d_ = zovldal(static_cast<int>(cols.size()), 50, 50);
        d_->F = static_cast<int32_t>(cols.size());
        names_.reserve(cols.size());
        values_.reserve(cols.size());
        nulls_.resize(cols.size());
        int i = 0;
        for (const auto& [name, value] : cols) {
            names_.emplace_back(name);
            values_.emplace_back(value != nullptr ? value : "");
            d_->S[i] = names_.back().data();
            d_->C[i] = static_cast<int16_t>(names_.back().size());
            d_->V[i] = values_.back().data();
            d_->L[i] = static_cast<int32_t>(values_.back().size());
            nulls_[static_cast<size_t>(i)] = value != nullptr ? 0 : -1;
            d_->I[i] = &nulls_[static_cast<size_t>(i)];
            ++i;
        }
    }
    ~descriptor() { zovldau(&d_); }
    descriptor(const descriptor&) = delete;
    descriptor& operator=(const descriptor&) = delete;
    xSQLDA* get() { return d_; }

  private:
    xSQLDA* d_;
    std::vector<std::string> names_;
    std::vector<std::string> values_;
    std::vector<int16_t> nulls_;
};

// ORDERS (CUST_ID, AMT) based on CUST (ID, NAME) by CUST_ID -> ID; CUST holds the rows
// 70 SEVENTY, 7 SEVEN, 8 EIGHT.
struct orders_on_cust {
    cursor_list list;
    curs* cust = list.add("CUST", {"ID", "NAME"});
    curs* orders = list.add("ORDERS", {"CUST_ID", "AMT"});
    row_data* r70;
    row_data* r7;
    row_data* r8;
    orders_on_cust() {
        clause_text text("CUST on CUST_ID -> ID");
        EXPECT_EQ(parse_base(orders, text), 0);
        EXPECT_EQ(edit_bases_pass(), 0);
        xform::layout(cust, 4);
        column(cust, "NAME")->len = 8;
        xform::layout(cust, 4);
        xform::layout(orders, 4);
        r70 = append_row(cust, {"70", "SEVENTY"});
        r7 = append_row(cust, {"7", "SEVEN"});
        r8 = append_row(cust, {"8", "EIGHT"});
        std::memset(prev_col_name, 0, sizeof(prev_col_name));
        orders->sampleno = 1;
        orders->rowno = 1;
    }
    // The NAME that the row being built for ORDERS reads from CUST.
    std::string name_seen() {
        const char* p = locate_base(cust, orders, column(cust, "NAME")->offset);
        return p != nullptr ? std::string(p, 8) : std::string("(none)");
    }
};

TEST(SetBases, WholeValueMatchesNotAPrefix) {
    LogCapture log;
    orders_on_cust s;
    const struct {
        const char* value;
        const row_data* row;
    } cases[] = {
        {"7", s.r7},       // 70 comes first but is not 7
        {"70", s.r70},     //
        {"7   ", s.r7},    // blanks of the value compare as the column's
        {"8   99", s.r8},  // longer than the column: matched on the column's width
        {"8", s.r8},       //
    };
    for (const auto& k : cases) {
        descriptor d({{"AMT", "1"}, {"CUST_ID", k.value}});
        EXPECT_EQ(set_bases(s.orders, d.get()), 0) << k.value;
        EXPECT_EQ(s.orders->base->base_row, k.row) << k.value;
    }
    descriptor d({{"CUST_ID", "7"}});
    ASSERT_EQ(set_bases(s.orders, d.get()), 0);
    EXPECT_EQ(s.name_seen(), "SEVEN   ");
    EXPECT_FALSE(log.has("W (")) << log.text();
}

TEST(SetBases, UnmatchedAndNullFallBackToTheLastRowWarnedOncePerColumn) {
    LogCapture log;
    orders_on_cust s;
    for (const char* v : std::initializer_list<const char*>{"99", nullptr, "", "71"}) {
        descriptor d({{"CUST_ID", v}});
        EXPECT_EQ(set_bases(s.orders, d.get()), 0);
        EXPECT_EQ(s.orders->base->base_row, s.r8);
        ++s.orders->rowno;
    }
    EXPECT_EQ(occurrences(log.text(), "CBA3350"), 1u) << log.text();
    EXPECT_TRUE(log.has("matching CUST_ID")) << log.text();
}

TEST(SetBases, TracedSearchShowsTheCandidates) {
    LogCapture log;
    orders_on_cust s;
    s.orders->trace = 1;
    descriptor d({{"CUST_ID", "99"}});
    set_bases(s.orders, d.get());
    EXPECT_TRUE(log.has("Looking for (2) - (99)")) << log.text();
    EXPECT_EQ(occurrences(log.text(), "CBA3360"), 3u) << log.text();
}

TEST(SetBases, MissingDescriptorColumnUsesTheLastRowWithOneErrorPerRun) {
    LogCapture log;
    orders_on_cust s;
    descriptor d({{"AMT", "7"}});
    for (int row = 1; row <= 3; ++row) {
        s.orders->rowno = row;
        EXPECT_EQ(set_bases(s.orders, d.get()), 0);
        EXPECT_EQ(s.orders->base->base_row, s.r8);
    }
    EXPECT_EQ(occurrences(log.text(), "CBA3330"), 1u) << log.text();
    s.orders->sampleno = 2;
    s.orders->rowno = 1;
    set_bases(s.orders, d.get());
    EXPECT_EQ(occurrences(log.text(), "CBA3330"), 2u) << log.text();
    EXPECT_TRUE(log.has("2 more rows of cursor ORDERS gave cba3330")) << log.text();
}

TEST(SetBases, BaseCursorWithoutRows) {
    LogCapture log;
    orders_on_cust s;
    delete_all(s.cust);
    descriptor d({{"CUST_ID", "7"}});
    EXPECT_EQ(set_bases(s.orders, d.get()), 1);
    EXPECT_TRUE(log.has("Have no base row in cursor CUST")) << log.text();
    EXPECT_EQ(s.name_seen(), "(none)");

    // The age-to cursor may still be filling: no row, no error.
    LogCapture quiet;
    s.orders->age_to = s.cust;
    EXPECT_EQ(set_bases(s.orders, d.get()), 0);
    EXPECT_EQ(s.orders->base->base_row, nullptr);
    EXPECT_FALSE(quiet.has("CBA33")) << quiet.text();
}

TEST(SetBases, DummyBaseRowServesUnmatchedValuesSilently) {
    LogCapture log;
    orders_on_cust s;
    s.cust->dummy = 1;
    row_data* dummy = append_row(s.cust, {"", "NONE"});
    descriptor d({{"CUST_ID", "99"}});
    EXPECT_EQ(set_bases(s.orders, d.get()), 0);
    EXPECT_EQ(s.orders->base->base_row, dummy);
    EXPECT_FALSE(log.has("CBA3350")) << log.text();
}

TEST(SetBases, OnlyTheCurrentSampleOfABaseKeepingSamples) {
    orders_on_cust s;
    s.cust->samples = 2;
    s.cust->sampleno = 1;
    for (row_data* r = s.cust->first_row; r != nullptr; r = r->next) r->sampleno = 1;
    s.cust->sampleno = 2;
    row_data* newer = append_row(s.cust, {"7", "NEWER"});
    descriptor d({{"CUST_ID", "7"}});
    ASSERT_EQ(set_bases(s.orders, d.get()), 0);
    EXPECT_EQ(s.orders->base->base_row, newer);
}

// The rows are found through an index of CUST by ID; every change of CUST's rows is seen
// at the next row built (under ASan an index over freed rows would be a use after free).
TEST(SetBases, TheBaseRowFollowsTheChangesOfTheBaseRows) {
    LogCapture log;
    orders_on_cust s;
    auto row_for = [&](const char* v) {
        descriptor d({{"CUST_ID", v}});
        EXPECT_EQ(set_bases(s.orders, d.get()), 0) << v;
        return s.orders->base->base_row;
    };
    EXPECT_EQ(row_for("7"), s.r7);
    // A second row of a value: the first one stays the base row.
    row_data* r9 = append_row(s.cust, {"9", "NINE"});
    append_row(s.cust, {"7", "AGAIN"});
    EXPECT_EQ(row_for("9"), r9);
    EXPECT_EQ(row_for("7"), s.r7);
    // Retention drops the head: the same count, another first row.
    s.cust->limit = 5;
    row_data* r10 = row_append(s.cust, "10  \0TEN     ", 13);
    ASSERT_EQ(s.cust->first_row, s.r7);
    EXPECT_EQ(row_for("70"), s.cust->last_row);  // unmatched: the last row
    EXPECT_EQ(row_for("10"), r10);
    // A new run: every row goes, the new ones are found.
    delete_all(s.cust);
    ++s.cust->sampleno;
    row_data* n7 = append_row(s.cust, {"7", "NEW"});
    append_row(s.cust, {"5", "FIVE"});
    EXPECT_EQ(row_for("7"), n7);
    EXPECT_EQ(s.name_seen(), "NEW     ");
    // A base cursor keeping samples: only the current sample's rows.
    s.cust->samples = 2;
    ++s.cust->sampleno;
    row_data* s7 = append_row(s.cust, {"7", "SAMPLE"});
    EXPECT_EQ(row_for("7"), s7);
    EXPECT_EQ(row_for("5"), s7);  // of the sample before: unmatched, the last row
    // Sample numbers beyond 16 bits, as a long-running collector reaches them.
    s.cust->sampleno = 40000;
    row_data* late = row_append(s.cust, "5   \0LATE    ", 13);
    row_append(s.cust, "6   \0LAST    ", 13);
    EXPECT_EQ(row_for("5"), late);
}

// The row found is the one a walk over the rows in chain order finds with the match rule,
// for values shorter than, as long as and longer than the column, blanks and duplicates.
TEST(SetBases, FindsWhatAWalkInChainOrderFinds) {
    LogCapture log;
    cursor_list list;
    curs* cust = list.add("CUST", {"ID", "NAME"});
    curs* orders = list.add("ORDERS", {"CUST_ID"});
    clause_text text("CUST on CUST_ID -> ID");
    ASSERT_EQ(parse_base(orders, text), 0);
    ASSERT_EQ(edit_bases_pass(), 0);
    xform::layout(cust, 3);
    xform::layout(orders, 3);
    const char* ids[] = {"1", "12", "1 2", " 1", "123", "12", "", "2", "1"};
    for (const char* id : ids) append_row(cust, {id, "x"});
    const columns* idc = column(cust, "ID");
    auto walk = [&](const std::string& v) -> const row_data* {
        const size_t n = std::min<size_t>(v.size(), static_cast<size_t>(idc->len));
        for (const row_data* r = cust->first_row; r != nullptr; r = r->next) {
            const std::string field(r->text + idc->offset, static_cast<size_t>(idc->len));
            if (field.compare(0, n, v, 0, n) == 0 &&
                field.find_first_not_of(' ', n) == std::string::npos)
                return r;
        }
        return nullptr;
    };
    const char* values[] = {"1",   "1 ", "1  ", "1   x", "12",  "12 ", "123", "1234",
                            "1 2", " 1", "  1", "2",     "2  ", "3",   " ",   "12 3"};
    for (const char* v : values) {
        descriptor d({{"CUST_ID", v}});
        ASSERT_EQ(set_bases(orders, d.get()), 0) << v;
        const row_data* want = walk(v);
        EXPECT_EQ(orders->base->base_row, want != nullptr ? want : cust->last_row)
            << "'" << v << "'";
        end_bases(orders);
    }
}

TEST(LocateBase, ABaseRowIsForgottenOnceItsRowIsBuilt) {
    orders_on_cust s;
    descriptor d({{"CUST_ID", "7"}});
    ASSERT_EQ(set_bases(s.orders, d.get()), 0);
    EXPECT_EQ(s.name_seen(), "SEVEN   ");
    end_bases(s.orders);
    // The base cursor's next run frees the rows; readers after the build see its new last
    // row (under ASan a stale base row would be a use after free).
    delete_all(s.cust);
    append_row(s.cust, {"9", "NINE"});
    EXPECT_EQ(s.orders->base->base_row, nullptr);
    EXPECT_EQ(s.name_seen(), "NINE    ");
}

TEST(LocateBase, OtherCursorsAndBoundsReadTheLastRow) {
    orders_on_cust s;
    curs* other = s.list.add("OTHER", {"V"});
    xform::layout(other, 6);
    EXPECT_EQ(locate_base(other, s.orders, 0), nullptr);  // no rows
    append_row(other, {"ONE"});
    append_row(other, {"TWO"});
    descriptor d({{"CUST_ID", "7"}});
    ASSERT_EQ(set_bases(s.orders, d.get()), 0);
    EXPECT_EQ(std::string(locate_base(other, s.orders, 0), 3), "TWO");
    EXPECT_EQ(locate_base(other, s.orders, other->length), nullptr);
    EXPECT_EQ(locate_base(other, s.orders, -1), nullptr);
}

// ---- edit_bases ------------------------------------------------------------------------

struct edit_case {
    const char* name;
    const char* clause;
    const char* message;
};

class EditBases : public ::testing::TestWithParam<edit_case> {};

TEST_P(EditBases, Refused) {
    const edit_case& k = GetParam();
    LogCapture log;
    cursor_list list;
    list.add("CUST", {"ID"});
    curs* orders = list.add("ORDERS", {"CUST_ID"});
    list.add("VIRT", {"ID"})->cvirtual = 1;
    clause_text text(k.clause);
    ASSERT_EQ(parse_base(orders, text), 0);
    EXPECT_EQ(edit_bases_pass(), 1);
    EXPECT_TRUE(log.has(k.message)) << log.text();
    EXPECT_TRUE(log.has("PBA3325")) << log.text();
}

INSTANTIATE_TEST_SUITE_P(
    Table, EditBases,
    ::testing::Values(edit_case{"Itself", "ORDERS on CUST_ID -> CUST_ID", "PBA3295"},
                      edit_case{"Missing", "NOPE on CUST_ID -> ID", "PBA3300"},
                      edit_case{"Virtual", "VIRT on CUST_ID -> ID", "PBA3305"},
                      edit_case{"NoColumn", "CUST on CUST_ID -> NAME", "PBA3310"}),
    case_names(&edit_case::name));

TEST(EditBases, BindsTheBaseCursorAndColumn) {
    LogCapture log;
    cursor_list list;
    curs* cust = list.add("CUST", {"NAME", "ID"});
    curs* orders = list.add("ORDERS", {"CUST_ID"});
    clause_text text("CUST on CUST_ID -> ID");
    ASSERT_EQ(parse_base(orders, text), 0);
    ASSERT_EQ(edit_bases_pass(), 0);
    EXPECT_TRUE(log.has("PBA3320")) << log.text();
    EXPECT_EQ(orders->base->curs, cust);
    EXPECT_EQ(orders->base->b_col, column(cust, "ID"));
}

}  // namespace
