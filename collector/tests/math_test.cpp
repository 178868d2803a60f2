#include "collector/transforms/math.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>

#include "collector/tests/transform_fixture.h"
#include "defs/clause_math.h"
#include "testing/case_names.h"
#include "testing/log_capture.h"

namespace {

using xform::column;
using xform::cursor_list;
using xform::field;
using xform::layout;
using xform::row_text;

// Cursor CUR with columns A, B, C and the math column M (declared as m_col), laid out 10
// wide; REF with one column X.
struct math_setup {
    cursor_list list;
    curs* cur;
    curs* ref;
    columns* m;
    math_setup(const char* m_col, const char* math_text) {
        cur = list.add("CUR", {"A", "B", "C", m_col});
        ref = list.add("REF", {"X"});
        clause_text text(math_text);
        EXPECT_EQ(parse_math(cur, text), 0) << math_text;
        EXPECT_EQ(edit_math_pass(), 0) << math_text;
        layout(cur, 10);
        layout(ref, 10);
        m = column(cur, "M");
    }
    // Computes M over a row of the values; the column's text.
    std::string compute(const char* a, const char* b = "", const char* c = "") {
        std::string row = row_text(cur, {a, b, c});
        EXPECT_EQ(do_math(cur, m, row.data()), 0);
        return field(row.data(), m);
    }
};

std::string right(const std::string& s, int width) {
    return std::string(static_cast<size_t>(width) - s.size(), ' ') + s;
}

struct math_case {
    const char* name;
    const char* m_col;
    const char* text;
    const char* a;
    const char* b;
    const char* c;
    const char* answer;
    const char* message;  // written, or null: no warning or error
};

class DoMath : public ::testing::TestWithParam<math_case> {};

TEST_P(DoMath, AnswerAndMessage) {
    const math_case& k = GetParam();
    LogCapture log;
    math_setup s(k.m_col, k.text);
    ASSERT_NE(s.m, nullptr);
    EXPECT_EQ(s.compute(k.a, k.b, k.c), right(k.answer, s.m->len)) << k.text;
    if (k.message != nullptr)
        EXPECT_TRUE(log.has(k.message)) << log.text();
    else
        EXPECT_FALSE(log.has("E (") || log.has("W (")) << log.text();
}

INSTANTIATE_TEST_SUITE_P(
    Table, DoMath,
    ::testing::Values(
        math_case{"Parentheses", "M", "M ( A + B ) * C", "1", "2", "4", "12.00", nullptr},
        math_case{"Precedence", "M", "M A + B * C", "1", "2", "4", "9.00", nullptr},
        math_case{"LeftToRight", "M", "M A - B - C", "10", "2", "3", "5.00", nullptr},
        math_case{"DivideThenMultiply", "M", "M A / B * C", "8", "2", "4", "16.00", nullptr},
        math_case{"NestedGroups", "M", "M ( ( A + B ) * ( C - 1 ) ) / 2", "1", "2", "4", "4.50",
                  nullptr},
        math_case{"DivideByZeroFirst", "M", "M A / 0 + B", "10", "2", "4", "0.00", nullptr},
        math_case{"DivideByZeroInGroup", "M", "M B + ( C * A / 0 )", "10", "2", "4", "0.00",
                  nullptr},
        math_case{"DivideByZeroColumn", "M", "M B * 3 + A / C", "10", "2", "0", "0.00", nullptr},
        math_case{"LeadingMinus", "M", "M - A + B", "1", "2", "", "1.00", nullptr},
        math_case{"MinusBeforeGroup", "M", "M - ( A + B ) * C", "1", "2", "4", "-12.00", nullptr},
        math_case{"Rounds", "M", "M A", "2.345", "", "", "2.35", nullptr},
        math_case{"RoundsNegative", "M", "M A", "-2.345", "", "", "-2.35", nullptr},
        math_case{"NoRound", "M", "noround M A", "2.345", "", "", "2.34", nullptr},
        math_case{"NoDecimals", "M", "decimal 0 M A", "2.345", "", "", "2", nullptr},
        math_case{"FourDecimals", "M", "decimal 4 M A / 3", "1", "", "", "0.3333", nullptr},
        math_case{"CutToWidth", "M^4", "decimal 0 M A", "123456789", "", "", "6789", "CMA3580"},
        math_case{"BeyondSinglePrecision", "M", "decimal 0 M A + 1", "16777217", "", "", "16777218",
                  nullptr},
        math_case{"LargeValue", "M^40", "decimal 0 M A * 1048576", "8589934592", "", "",
                  "9007199254740992", nullptr}),
    case_names(&math_case::name));

TEST(DoMath, WaterMarksKeepTheHighestAndLowest) {
    const struct {
        const char* text;
        std::vector<const char*> answers;
    } cases[] = {
        {"decimal 0 high M A", {"5", "5", "8", "8"}},
        {"decimal 0 low M A", {"5", "3", "3", "3"}},
        {"decimal 0 M A", {"5", "3", "8", "6"}},
    };
    for (const auto& k : cases) {
        math_setup s("M", k.text);
        std::vector<std::string> got;
        for (const char* v : {"5", "3", "8", "6"}) {
            std::string f = s.compute(v);
            got.push_back(f.substr(f.find_first_not_of(' ')));
        }
        EXPECT_EQ(got, std::vector<std::string>(k.answers.begin(), k.answers.end())) << k.text;
    }
}

TEST(DoMath, TracesEachStep) {
    LogCapture log;
    math_setup s("M", "M ( A + B ) * C / 0");
    s.cur->tracem = 1;
    EXPECT_EQ(s.compute("1", "2", "4"), right("0.00", 16));
    for (const char* id :
         {"CMA3525", "CMA3540", "CMA3565", "CMA3595", "CMA3660", "CMA3645", "CMA3650", "CMA3590"})
        EXPECT_TRUE(log.has(id)) << id << log.text();
    EXPECT_TRUE(log.has("Math:  ( 1.000000  +  2.000000 )  *  4.000000  /  0.000000"))
        << log.text();
}

TEST(DoMath, ReadsOtherCursorsLastRow) {
    math_setup s("M", "M REF.X * 2 + A");
    xform::append_row(s.ref, {"40"});
    xform::append_row(s.ref, {"21"});
    EXPECT_EQ(s.compute("1"), right("43.00", 16));
}

TEST(DoMath, CursorWithoutRowsGivesZeroWithOneErrorPerRun) {
    LogCapture log;
    math_setup s("M", "M REF.X + A");
    s.cur->sampleno = 1;
    for (int row = 1; row <= 3; ++row) {
        s.cur->rowno = row;
        EXPECT_EQ(s.compute("5"), right("0.00", 16));
    }
    auto count = [&](const std::string& id) {
        size_t n = 0;
        const std::string t = log.text();
        for (size_t p = t.find(id); p != std::string::npos; p = t.find(id, p + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("CMA3530"), 1u) << log.text();
    EXPECT_TRUE(log.has("references REF which has no rows")) << log.text();
    // The next run writes it again, after the count of the rows the run before left out.
    s.cur->sampleno = 2;
    s.cur->rowno = 1;
    s.compute("5");
    EXPECT_EQ(count("CMA3530"), 2u) << log.text();
    EXPECT_TRUE(log.has("2 more rows of cursor CUR gave cma3530")) << log.text();
}

TEST(DoMath, AgeToCopyWithoutRowsIsSilentAndTheInitialValueServesWhileFilling) {
    LogCapture log;
    math_setup s("M", "initial 7 M REF.X + A");
    s.ref->aged_to = 1;
    EXPECT_EQ(s.compute("5"), right("0.00", 16));
    EXPECT_FALSE(log.has("CMA3530")) << log.text();
    s.cur->age_to = s.ref;
    s.cur->post_age = 1;
    xform::append_row(s.ref, {"21"});
    EXPECT_EQ(s.compute("5"), right("7.00", 16));
    s.cur->post_age = 0;
    s.cur->pre_age = 1;
    EXPECT_EQ(s.compute("5"), right("26.00", 16));
}

TEST(DoMath, ExcessiveSourceGivesBlanksEndingInZero) {
    LogCapture log;
    math_setup s("M", "M REF.X");
    columns* x = column(s.ref, "X");
    x->len = 300;
    layout(s.ref, 300);
    xform::append_row(s.ref, {"1"});
    EXPECT_EQ(s.compute("1"), std::string(15, ' ') + "0");
    EXPECT_TRUE(log.has("CMA3560")) << log.text();
}

// The answer's text is what printf's "%f" writes, cut to the decimals kept: the same bytes
// for ties, signed zeros, the extremes of a double, infinities and NaNs.
TEST(DoMath, AnswerTextIsPrintfsFixedForm) {
    const char* values[] = {"0",
                            "-0",
                            "0.125",
                            "0.375",
                            "2.5e-7",
                            "-2.5e-7",
                            "0.1",
                            "1.0000005",
                            "999999.9999995",
                            "-2.345",
                            "1e15",
                            "123456789.987654321",
                            "4503599627370497.5",
                            "1e300",
                            "-1e300",
                            "5e-324",
                            "inf",
                            "-inf",
                            "nan",
                            "-nan"};
    LogCapture log;  // the widest answers are cut, with "cma3580"
    for (int decimals : {0, 2, 6, 10}) {
        for (bool round : {false, true}) {
            const std::string text = std::string(round ? "" : "noround ") + "decimal " +
                                     std::to_string(decimals) + " M A";
            math_setup s("M^40", text.c_str());
            column(s.cur, "A")->len = 30;
            layout(s.cur, 10);
            for (const char* v : values) {
                double ans = std::strtod(v, nullptr);
                if (round) {
                    double r = 0.5;
                    for (int i = 0; i < decimals; ++i) r /= 10.0;
                    if (ans > 0.0)
                        ans += r;
                    else if (ans < 0.0)
                        ans -= r;
                }
                char printed[400];
                std::snprintf(printed, sizeof printed, "%f", ans);
                std::string want = printed;
                const size_t dot = want.find('.');
                if (dot != std::string::npos) {
                    if (decimals == 0)
                        want.resize(dot);
                    else if (want.size() - dot - 1 > static_cast<size_t>(decimals))
                        want.resize(dot + 1 + static_cast<size_t>(decimals));
                }
                want = want.size() > 40 ? want.substr(want.size() - 40) : right(want, 40);
                EXPECT_EQ(s.compute(v), want) << text << " of " << v;
            }
        }
    }
}

// ---- edit_math -------------------------------------------------------------------------

struct edit_case {
    const char* name;
    std::vector<const char*> math;  // statements of CUR
    const char* message;
    int rc;
};

class EditMath : public ::testing::TestWithParam<edit_case> {};

TEST_P(EditMath, Messages) {
    const edit_case& k = GetParam();
    LogCapture log;
    cursor_list list;
    curs* cur = list.add("CUR", {"A", "M1", "M2"});
    curs* ref = list.add("REF", {"X"});
    curs* vref = list.add("VREF", {"X"});
    vref->cvirtual = 1;
    cur->age_to = ref;
    for (const char* m : k.math) {
        clause_text text(m);
        ASSERT_EQ(parse_math(cur, text), 0) << m;
    }
    EXPECT_EQ(edit_math_pass(), k.rc) << log.text();
    EXPECT_TRUE(log.has(k.message)) << log.text();
    EXPECT_TRUE(log.has(k.rc != 0 ? "PMA3515" : "PMA3520")) << log.text();
}

INSTANTIATE_TEST_SUITE_P(
    Table, EditMath,
    ::testing::Values(edit_case{"Unmatched", {"M1 Q + 1"}, "PMA3475", 1},
                      edit_case{"MissingCursor", {"M1 NOPE.X"}, "PMA3490", 1},
                      edit_case{"LongCursorPart", {"M1 TOOLONGNAME.X"}, "PMA3490", 1},
                      edit_case{"OwnCursorQualified", {"M1 CUR.A"}, "PMA3495", 1},
                      edit_case{"MissingColumn", {"M1 REF.Y"}, "PMA3500", 1},
                      edit_case{"LaterMathColumn", {"M1 M2 + 1", "M2 A"}, "PMA3510", 1},
                      edit_case{"ItSelf", {"M1 M1 + 1"}, "PMA3510", 1},
                      edit_case{"AgeToNote", {"M1 REF.X", "M2 M1 + VREF.X"}, "PMA3480", 0}),
    case_names(&edit_case::name));

TEST(EditMath, MarksTheMathColumns) {
    cursor_list list;
    curs* cur = list.add("CUR", {"A", "M1^6", "M2"});
    for (const char* m : {"M1 A", "M2 M1 * 2"}) {
        clause_text text(m);
        ASSERT_EQ(parse_math(cur, text), 0);
    }
    ASSERT_EQ(edit_math_pass(), 0);
    const columns* m1 = column(cur, "M1");
    const columns* m2 = column(cur, "M2");
    EXPECT_EQ(m1->len, 6);
    EXPECT_EQ(m2->len, 16);
    EXPECT_EQ(m1->col_no, 2);
    EXPECT_EQ(m2->col_no, 3);
    EXPECT_EQ(m2->orig_type, 2);
    EXPECT_EQ(m2->data_type, 1);
    EXPECT_EQ(m1->m_anch, cur->m_anch);
    EXPECT_EQ(column(cur, "A")->m_anch, nullptr);
}

}  // namespace
