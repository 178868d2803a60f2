#include <gtest/gtest.h>

#include <string>

#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/dictionary.h"
#include "defs/xsqlda.h"
#include "runtime/strings.h"
#include "testing/case_names.h"
#include "testing/clause_fixture.h"

namespace {

// ---- column exits ----------------------------------------------------------------------

// Which installed routine a row's entry reaches.
const char* last_called = nullptr;
#define RECORDER(name)                          \
    int record_##name(curs*, columns*, char*) { \
        last_called = #name;                    \
        return 0;                               \
    }
RECORDER(colex_r)
RECORDER(colex_l)
RECORDER(colex_m)
RECORDER(colex_s)
RECORDER(colex_c)
RECORDER(colex_m2)
RECORDER(colex_t)
#undef RECORDER

struct routines_installed {
    col_exit_routines saved = colex_routines;
    routines_installed() {
        colex_routines = {record_colex_r, record_colex_l,  record_colex_m, record_colex_s,
                          record_colex_c, record_colex_m2, record_colex_t};
    }
    ~routines_installed() { colex_routines = saved; }
};

TEST(ColumnExitTable, SevenRowsInSearchOrder) {
    const char* const names[] = {"R_JUSTIFY", "L_JUSTIFY", "MINUTES",  "SUBSTR",
                                 "CONCAT",    "MINUTES2",  "TIMESTAMP"};
    const int types[] = {0, 0, 0, 1, 3, 0, 0};
    const col_ex* row = col_exits;
    for (int i = 0; i < 7; ++i) {
        ASSERT_NE(row, nullptr);
        EXPECT_STREQ(row->name_upper, names[i]);
        std::string lower = names[i];
        u_strlower(lower.data());
        EXPECT_STREQ(row->name_lower, lower.c_str());
        EXPECT_EQ(row->type, types[i]);
        EXPECT_NE(row->c_exit, nullptr);
        row = row->prior;
    }
    EXPECT_EQ(row, nullptr);
}

struct exit_case {
    const char* text;
    const char* routine;  // the installed routine the entry reaches
    int int1;
    int int2;
    const char* concat;
};

class ColumnExits : public ::testing::TestWithParam<exit_case> {};

TEST_P(ColumnExits, TextToEntry) {
    const exit_case& k = GetParam();
    routines_installed hooks;
    test_cursor cur;
    LogCapture log;
    clause_text text(k.text);
    ASSERT_EQ(parse_col_ex(cur.c, text), 0) << k.text << log.text();
    const col_ex_list* e = cur.c->cxl_ptr;
    ASSERT_NE(e, nullptr);
    EXPECT_STREQ(e->col_name, "COL");
    EXPECT_EQ(e->int1, k.int1);
    EXPECT_EQ(e->int2, k.int2);
    EXPECT_STREQ(e->col_name_concat, k.concat);
    EXPECT_EQ(e->next_function, nullptr);
    last_called = nullptr;
    char row[8] = "abc";
    EXPECT_EQ(e->c_exit(cur.c, nullptr, row), 0);
    EXPECT_STREQ(last_called, k.routine) << k.text;
}

INSTANTIATE_TEST_SUITE_P(Rows, ColumnExits,
                         ::testing::Values(exit_case{"COL R_JUSTIFY", "colex_r", 0, 0, ""},
                                           exit_case{"COL r_justify", "colex_r", 0, 0, ""},
                                           exit_case{"COL L_JUSTIFY", "colex_l", 0, 0, ""},
                                           exit_case{"COL l_justify", "colex_l", 0, 0, ""},
                                           exit_case{"COL MINUTES", "colex_m", 0, 0, ""},
                                           exit_case{"COL minutes", "colex_m", 0, 0, ""},
                                           exit_case{"COL SUBSTR ( 3 , 10 )", "colex_s", 3, 10, ""},
                                           exit_case{"COL substr(1,256)", "colex_s", 1, 256, ""},
                                           exit_case{"COL SUBSTR ( 200 , 100 )", "colex_s", 200,
                                                     100, ""},
                                           exit_case{"COL CONCAT B", "colex_c", 0, 0, "B"},
                                           exit_case{"COL concat CUR.B", "colex_c", 0, 0, "CUR.B"},
                                           exit_case{"COL MINUTES2", "colex_m2", 0, 0, ""},
                                           exit_case{"COL minutes2", "colex_m2", 0, 0, ""},
                                           exit_case{"COL TIMESTAMP", "colex_t", 0, 0, ""},
                                           exit_case{"COL timestamp", "colex_t", 0, 0, ""}),
                         case_names(&exit_case::text));

struct exit_error {
    std::string text;
    const char* message;
};

TEST(ColumnExitErrors, Refused) {
    const std::string n50(50, 'C');
    const exit_error cases[] = {
        {"", "PDE4085E"},
        {n50 + " MINUTES", "PCC4090E"},
        {"COL", "PDE4095E"},
        {"COL ABCDEFGHIJABCDEFGHIJ", "PCF4100E"},
        {"COL Minutes", "PCF4105E"},
        {"COL MINUTE", "PCF4105E"},
        {"COL SUBSTR 3 , 5", "PCL4120E"},
        {"COL SUBSTR ( )", "PCL4130E"},
        {"COL SUBSTR (", "PCL4125E"},
        {"COL SUBSTR ( X , 5 )", "PCL4130E"},
        {"COL SUBSTR ( 257 , 5 )", "PCL4135E"},
        {"COL SUBSTR ( 0 , 5 )", "PCL4137E"},
        {"COL SUBSTR ( 3", "PCL4140E"},
        {"COL SUBSTR ( 3 5 )", "PCL4145E"},
        {"COL SUBSTR ( 3 ,", "PCL4150E"},
        {"COL SUBSTR ( 3 , Y )", "PCL4155E"},
        {"COL SUBSTR ( 3 , 300 )", "PCL4160E"},
        {"COL SUBSTR ( 3 , 0 )", "PCL4165E"},
        {"COL SUBSTR ( 3 , 5", "PCL4175E"},
        {"COL SUBSTR ( 3 , 5 ,", "PCL4175E"},
        {"COL CONCAT", "PCL4110E"},
        {"COL CONCAT " + n50, "CCL4115E"},
    };
    for (const exit_error& k : cases) {
        test_cursor cur;
        LogCapture log;
        clause_text text(k.text);
        EXPECT_EQ(parse_col_ex(cur.c, text), 1) << k.text;
        EXPECT_TRUE(log.has(k.message)) << k.text << "\n" << log.text();
        EXPECT_EQ(cur.c->cxl_ptr, nullptr) << k.text;
    }
}

TEST(ColumnExitErrors, SubstrSumWarnsAndIsKept) {
    test_cursor cur;
    LogCapture log;
    clause_text text("NAME SUBSTR ( 200 , 100 )");
    EXPECT_EQ(parse_col_ex(cur.c, text), 0);
    EXPECT_TRUE(log.has("PCL4170W")) << log.text();
    EXPECT_TRUE(log.has("Numeric sum excessive 300"));
    ASSERT_NE(cur.c->cxl_ptr, nullptr);

    LogCapture quiet;
    clause_text at_limit("NAME SUBSTR ( 128 , 128 )");
    EXPECT_EQ(parse_col_ex(cur.c, at_limit), 0);
    EXPECT_FALSE(quiet.has("PCL4170W"));
}

TEST(ColumnExitChains, ExitsOfOneColumnChainInOrder) {
    routines_installed hooks;
    test_cursor cur;
    for (const char* t : {"A R_JUSTIFY", "B MINUTES", "A SUBSTR ( 2 , 3 )", "A CONCAT B"}) {
        clause_text text(t);
        ASSERT_EQ(parse_col_ex(cur.c, text), 0) << t;
    }
    const col_ex_list* a = cur.c->cxl_ptr;
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->col_name, "A");
    ASSERT_NE(a->next_function, nullptr);
    EXPECT_EQ(a->next_function->int1, 2);
    ASSERT_NE(a->next_function->next_function, nullptr);
    EXPECT_STREQ(a->next_function->next_function->col_name_concat, "B");
    EXPECT_EQ(a->next_function->next_function->next_function, nullptr);
    ASSERT_NE(a->next, nullptr);
    EXPECT_STREQ(a->next->col_name, "B");
    EXPECT_EQ(a->next->next, nullptr);
}

TEST(ColumnExitRoutines, NoneInstalledFailsWithAMessage) {
    col_exit_routines saved = colex_routines;
    colex_routines = {};
    test_cursor cur;
    clause_text text("A MINUTES");
    ASSERT_EQ(parse_col_ex(cur.c, text), 0);
    LogCapture log;
    char row[4] = "x";
    EXPECT_EQ(cur.c->cxl_ptr->c_exit(cur.c, nullptr, row), 1);
    EXPECT_TRUE(log.has("CCC4010E"));
    colex_routines = saved;
}

// ---- iterate_where ---------------------------------------------------------------------

TEST(IterateWhere, ConditionBecomesItsOwnDecodeChain) {
    test_cursor cur;
    clause_text own("CPU > 90 , 'HIGH'");
    ASSERT_EQ(parse_decode(cur.c, own), 0);
    decode* own_chain = cur.c->decode;
    clause_text text("STATUS = 'ACTIVE'");
    ASSERT_EQ(parse_iterate_where(cur.c, text), 0);
    EXPECT_EQ(cur.c->decode, own_chain);
    EXPECT_EQ(own_chain->next, nullptr);
    ASSERT_NE(cur.c->iterate_where, nullptr);
    const decode* d = cur.c->iterate_where->decode;
    ASSERT_NE(d, nullptr);
    EXPECT_STREQ(d->col_name, "STATUS");
    EXPECT_EQ(d->next, nullptr);
    ASSERT_NE(d->decode_op, nullptr);
    EXPECT_EQ(d->decode_op->next, nullptr);
    EXPECT_EQ(d->decode_op->operand_type, DOK_STRING);
    EXPECT_EQ(std::string(d->decode_op->operand, 6), "ACTIVE");
    EXPECT_EQ(d->decode_op->replacement_type, DRK_STRING);
}

TEST(IterateWhere, SecondRefusedBadConditionRefused) {
    test_cursor cur;
    LogCapture log;
    clause_text first("STATUS = 1");
    ASSERT_EQ(parse_iterate_where(cur.c, first), 0);
    clause_text second("STATUS = 2");
    EXPECT_EQ(parse_iterate_where(cur.c, second), 1);
    EXPECT_TRUE(log.has("PIT4475E"));

    test_cursor c2;
    clause_text own("CPU > 90 , 'HIGH'");
    ASSERT_EQ(parse_decode(c2.c, own), 0);
    decode* own_chain = c2.c->decode;
    clause_text bad("STATUS between 1");
    EXPECT_EQ(parse_iterate_where(c2.c, bad), 1);
    EXPECT_TRUE(log.has("PDE3750E"));
    EXPECT_EQ(c2.c->iterate_where, nullptr);
    EXPECT_EQ(c2.c->decode, own_chain);
}

// ---- set_len ---------------------------------------------------------------------------

TEST(SetLen, TextToRecordOrMessage) {
    struct set_len_case {
        std::string text;
        const char* message;
        int len;
    };
    const std::string n49(49, 'N'), n50(50, 'N');
    const set_len_case cases[] = {
        {"NAME 30", nullptr, 30},    {"NAME 1", nullptr, 1},           {"NAME 256", nullptr, 256},
        {"NAME 12abc", nullptr, 12}, {n49 + " 5", nullptr, 5},         {"", "PCL4540E", 0},
        {n50 + " 5", "PCL4545E", 0}, {"PROCS.NAME 30", "PCL4550E", 0}, {"NAME", "PCL4555E", 0},
        {"NAME 300", "PCL4565E", 0}, {"NAME 257", "PCL4565E", 0},      {"NAME ABC", "PCL4560E", 0},
        {"NAME 0", "PCL4560E", 0},   {"NAME -3", "PCL4560E", 0},
    };
    for (const set_len_case& k : cases) {
        test_cursor cur;
        LogCapture log;
        clause_text text(k.text);
        int rc = parse_set_len(cur.c, text);
        if (k.message != nullptr) {
            EXPECT_EQ(rc, 1) << k.text;
            EXPECT_TRUE(log.has(k.message)) << k.text << log.text();
            EXPECT_EQ(cur.c->set_len, nullptr);
            continue;
        }
        ASSERT_EQ(rc, 0) << k.text << log.text();
        ASSERT_NE(cur.c->set_len, nullptr);
        EXPECT_EQ(cur.c->set_len->len, k.len) << k.text;
        EXPECT_EQ(std::string(cur.c->set_len->col_name), k.text.substr(0, k.text.find(' ')));
    }
}

TEST(SetLen, KeptInStatementOrder) {
    test_cursor cur;
    clause_text a("A 10");
    clause_text b("B 20");
    ASSERT_EQ(parse_set_len(cur.c, a), 0);
    ASSERT_EQ(parse_set_len(cur.c, b), 0);
    ASSERT_NE(cur.c->set_len->next, nullptr);
    EXPECT_STREQ(cur.c->set_len->next->col_name, "B");
}

// ---- script-exit descriptor ------------------------------------------------------------

// A dictionary on dict_anchor for the length of a test.
struct test_dictionary {
    dictionary entries[3] = {};
    dictionary* saved = dict_anchor;
    test_dictionary() {
        std::strcpy(entries[0].name, "NAME");
        entries[0].len = 30;
        std::strcpy(entries[1].name, "SIZE");
        entries[1].orig_type = 2;
        entries[1].len = 16;
        std::strcpy(entries[2].name, "ODD");
        entries[2].orig_type = 4;
        entries[2].len = 5;
        entries[0].next = &entries[1];
        entries[1].next = &entries[2];
        dict_anchor = entries;
    }
    ~test_dictionary() { dict_anchor = saved; }
};

void set_select(test_cursor& cur, const char* text) { cur.c->raw_insert_select = alloc_str(text); }

TEST(ScriptExit, NameAndSizeDescriptor) {
    test_dictionary dict;
    test_cursor cur;
    set_select(cur, "SELECT NAME, SIZE FROM T");
    ASSERT_EQ(parse_script_exit(cur.c), 0);
    const auto* d = static_cast<const xSQLDA*>(cur.c->xlda);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->N, 2);
    EXPECT_EQ(d->F, 2);
    EXPECT_EQ(d->L[0], 30);
    EXPECT_EQ(d->L[1], 16);
    EXPECT_EQ(d->T[0], 1);
    EXPECT_EQ(d->T[1], 2);
    EXPECT_STREQ(d->S[0], "NAME");
    EXPECT_STREQ(d->S[1], "SIZE");
    EXPECT_EQ(d->M[0], 4);
    EXPECT_EQ(d->C[1], 4);
    EXPECT_EQ(*d->I[0], 1);
    EXPECT_EQ(*d->I[1], 1);
    EXPECT_NE(d->I[0], d->I[1]);
    EXPECT_EQ(d->X, nullptr);
    ASSERT_NE(cur.c->buffer, nullptr);
    EXPECT_EQ(d->V[0], cur.c->buffer);
    EXPECT_EQ(d->V[1], cur.c->buffer + 30);
    // The value areas cover the 46 bytes of the buffer: writing them whole stays in bounds.
    std::memset(d->V[0], 'x', 30);
    std::memset(d->V[1], 'y', 16);
    EXPECT_STREQ(cur.c->raw_insert_select, "SELECT NAME");
}

TEST(ScriptExit, ParenthesesAndTypes) {
    test_dictionary dict;
    test_cursor cur;
    set_select(cur, "  select (ODD ,NAME,  SIZE) from T where x = 1");
    ASSERT_EQ(parse_script_exit(cur.c), 0);
    const auto* d = static_cast<const xSQLDA*>(cur.c->xlda);
    EXPECT_EQ(d->N, 3);
    EXPECT_STREQ(d->S[0], "ODD");
    EXPECT_STREQ(d->S[1], "NAME");
    EXPECT_STREQ(d->S[2], "SIZE");
    EXPECT_EQ(d->T[0], 2);
    EXPECT_EQ(d->V[2], cur.c->buffer + 35);
}

TEST(ScriptExit, Refusals) {
    struct refusal {
        const char* text;
        const char* message;
    };
    const refusal cases[] = {
        {"INSERT NAME FROM T", "PCC3990E"},  {"SELECTNAME FROM T", "PCC3990E"},
        {"SELECT NAME, SIZE", "PCC4000E"},   {"SELECT NAME, OTHER FROM T", "PCC4005E"},
        {"SELECT NAMES FROM T", "PCC4005E"},
    };
    for (const refusal& k : cases) {
        test_dictionary dict;
        test_cursor cur;
        set_select(cur, k.text);
        LogCapture log;
        EXPECT_EQ(parse_script_exit(cur.c), 1) << k.text;
        EXPECT_TRUE(log.has(k.message)) << k.text << log.text();
        if (std::string(k.message) == "PCC4005E") {
            EXPECT_TRUE(log.has("PCC4010E"));
        }
        EXPECT_EQ(cur.c->xlda, nullptr);
        EXPECT_EQ(cur.c->buffer, nullptr);
    }
}

// ---- descriptor blocks -----------------------------------------------------------------

TEST(Descriptor, ZovldalPlacesEveryArrayInsideOneBlock) {
    xSQLDA* d = zovldal(60, 30, 30);
    ASSERT_NE(d, nullptr);
    EXPECT_EQ(d->N, 60);
    // Every entry of every array can be written without touching another.
    for (int i = 0; i < 60; ++i) {
        d->V[i] = nullptr;
        d->S[i] = nullptr;
        d->I[i] = nullptr;
        d->L[i] = i;
        d->T[i] = static_cast<int16_t>(i);
        d->M[i] = d->C[i] = d->Y[i] = d->Z[i] = static_cast<int16_t>(i);
        std::memset(d->X[i], 'n', 32);  // round4(30)
    }
    for (int i = 0; i < 60; ++i) {
        EXPECT_EQ(d->L[i], i);
        EXPECT_EQ(d->Z[i], i);
        EXPECT_EQ(d->X[i][31], 'n');
    }
    EXPECT_EQ(d->X[1] - d->X[0], 32);
    zovldau(&d);
    EXPECT_NE(d, nullptr) << "the caller's pointer keeps its value";
    xSQLDA* none = nullptr;
    EXPECT_EQ(zovldau(&none), 0);
    EXPECT_EQ(zovldal(-1, 0, 0), nullptr);
}

}  // namespace
