#include "runtime/backread.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "runtime/trace.h"

namespace {

class BackRead : public ::testing::Test {
  protected:
    void TearDown() override {
        for (const std::string& f : files_) std::remove(f.c_str());
        f_chainFreeAll(&patterns_);
        f_chainFreeAll(&results_);
    }

    std::string write(const std::string& content) {
        std::string name = ::testing::TempDir() + "backread_XXXXXX";
        int fd = mkstemp(name.data());
        EXPECT_GE(fd, 0);
        EXPECT_EQ(::write(fd, content.data(), content.size()),
                  static_cast<ssize_t>(content.size()));
        close(fd);
        files_.push_back(name);
        return name;
    }

    // Every line read_back_next delivers, in delivery order.
    static std::vector<std::string> read_all(const std::string& file, int32_t maxBytes) {
        readBackBuff rb;
        std::vector<std::string> out;
        if (!read_back_init(&rb, file.c_str(), maxBytes)) return out;
        while (char* l = read_back_next(&rb)) out.emplace_back(l);
        read_back_term(&rb);
        return out;
    }

    // The lines of a text, last first, as the reader should deliver them.
    static std::vector<std::string> lines_backwards(const std::string& text) {
        std::vector<std::string> lines;
        size_t pos = 0;
        while (pos < text.size()) {
            size_t nl = text.find('\n', pos);
            if (nl == std::string::npos) nl = text.size();
            lines.push_back(text.substr(pos, nl - pos));
            pos = nl + 1;
        }
        return {lines.rbegin(), lines.rend()};
    }

    void pattern(const char* text, int code, int count, const char* nots = nullptr) {
        f_chain* p = f_chainAddLast(&patterns_, text, code, count, const_cast<char*>(nots));
        p->lstartcol = 0;
    }

    std::vector<std::string> result_lines() {
        std::vector<std::string> out;
        for (f_chain* e = f_getNext(&results_); e; e = f_getNext(e)) out.emplace_back(e->line);
        return out;
    }

    f_chain patterns_{};
    f_chain results_{};
    std::vector<std::string> files_;
};

TEST_F(BackRead, LinesComeBackLastToFirst) {
    struct Case {
        const char* content;
        std::vector<std::string> want;
    };
    const Case cases[] = {
        {"a\nb\nc\n", {"c", "b", "a"}},
        {"a\nb\nc", {"c", "b", "a"}},
        {"a\n\nb\n", {"b", "", "a"}},
        {"\n", {""}},
        {"only", {"only"}},
        {"", {}},
    };
    for (const Case& c : cases) EXPECT_EQ(read_all(write(c.content), 1 << 20), c.want) << c.content;
}

TEST_F(BackRead, ALineAcrossTheBlockBoundaryComesBackWhole) {
    // The long line starts 100 bytes before the end of the file's first 8192-byte block
    // seen from the end, so it lies in two blocks.
    std::string tail = "last line\n";
    std::string long_line(300, 'L');
    long_line += "-middle-";
    long_line += std::string(300, 'R');
    std::string after(8192 - tail.size() - 200, 'x');
    after += "\n";
    std::string content = "first\n" + long_line + "\n" + after + tail;
    auto got = read_all(write(content), 1 << 20);
    EXPECT_EQ(got, lines_backwards(content));
}

TEST_F(BackRead, AnEmptyLineRightAtTheBlockBoundaryIsKept) {
    // The newer block begins with the newline of an empty line.
    std::string content = "first\n\n" + std::string(8190, 'y') + "\n";
    ASSERT_EQ(content[content.size() - 8192], '\n');
    EXPECT_EQ(read_all(write(content), 1 << 20), lines_backwards(content));
}

TEST_F(BackRead, ModelOfRandomFilesAndLimits) {
    std::mt19937 rng(4711);
    for (int round = 0; round < 30; ++round) {
        std::string content;
        int nlines = static_cast<int>(rng() % 200);
        for (int i = 0; i < nlines; ++i) {
            // Mostly short lines, some empty, some longer than a block.
            size_t len = rng() % 10 == 0 ? rng() % 20000 : rng() % 120;
            std::string line;
            for (size_t k = 0; k < len; ++k) line += static_cast<char>('a' + (i + k) % 26);
            content += line;
            if (i + 1 < nlines || rng() % 2) content += "\n";
        }
        std::string file = write(content);
        int32_t limits[] = {
            1 << 30, static_cast<int32_t>(rng() % (content.size() + 1)), 100, 8192, 8193, 1};
        for (int32_t limit : limits) {
            size_t take = std::min<size_t>(static_cast<size_t>(limit), content.size());
            std::string searched = content.substr(content.size() - take);
            ASSERT_EQ(read_all(file, limit), lines_backwards(searched))
                << "round " << round << " limit " << limit << " size " << content.size();
        }
    }
}

TEST_F(BackRead, AByteLimitSearchesOnlyTheTail) {
    std::string content = "ERROR early\n" + std::string(20000, 'x') + "\nlast\n";
    pattern("ERROR", 2, 5);
    EXPECT_EQ(read_backwards(write(content).c_str(), 100, &patterns_, &results_), 0);
    EXPECT_EQ(results_.count, 0);
    EXPECT_EQ(read_all(write(content), 10), (std::vector<std::string>{"last", "xxxx"}));
}

TEST_F(BackRead, CodeOneStopsAtItsFirstHit) {
    std::string content = "ERROR one\nok\nERROR two\nok\nERROR three\nok\n";
    pattern("ERROR", 1, 5);
    EXPECT_EQ(read_backwards(write(content).c_str(), 1 << 20, &patterns_, &results_), 1);
    EXPECT_EQ(result_lines(), (std::vector<std::string>{"ERROR three"}));
    f_chain* hit = f_getNext(&results_);
    EXPECT_EQ(hit->code, 1);
    EXPECT_EQ(hit->count, 5);
    EXPECT_EQ(f_getNext(&patterns_)->count, 4);
}

TEST_F(BackRead, CountLimitsHitsAndPrevLineFollowsEach) {
    std::string content = "ERROR 1\nafter 1\nERROR 2\nafter 2\nERROR 3\nafter 3\n";
    pattern("ERROR", 2, 2);
    pattern("%PREV_LINE", -2, 10);
    EXPECT_EQ(read_backwards(write(content).c_str(), 1 << 20, &patterns_, &results_), 4);
    EXPECT_EQ(result_lines(),
              (std::vector<std::string>{"ERROR 3", "after 3", "ERROR 2", "after 2"}));
    f_chain* hit = f_getNext(&results_);
    EXPECT_EQ(hit->lstartcol, 0);
    EXPECT_STREQ(static_cast<char*>(hit->nots), " 3");  // the text behind the hit
}

TEST_F(BackRead, PrevLineOfABlocksLastLineIsFoundInTheFile) {
    // The newer block begins inside the hit line ("ERROR h|ere"), so the hit is put
    // together at the end of the older block, and the line after it lies only in the
    // newer block, already left behind.
    std::string tail = std::string(8192 - 4 - 15 - 1, 'b') + "\n";
    std::string content = std::string(4000, 'a') + "\nERROR here\nthe line after\n" + tail;
    ASSERT_EQ(content.size() - 8192, 4001u + 7u);
    pattern("ERROR", 2, 1);
    pattern("%PREV_LINE", -2, 1);
    EXPECT_EQ(read_backwards(write(content).c_str(), 1 << 20, &patterns_, &results_), 2);
    EXPECT_EQ(result_lines(), (std::vector<std::string>{"ERROR here", "the line after"}));
}

TEST_F(BackRead, FollowUps) {
    std::string content =
        "Mon Dec  7 10:00:00 2026\n"
        "before the hit\n"
        "ERROR disk full\n"
        "detail line\n"
        "Mon Dec  7 10:05:00 2026\n"
        "tail line\n";
    pattern("ERROR", 3, 1);
    pattern("%LAST_LINE", -9, 1);
    pattern("%NEXT_LINE", -3, 1);
    pattern("%PREV_LINE_TIME", -3, 1);
    pattern("%GET_TIMESTAMP", -3, 1);
    EXPECT_EQ(read_backwards(write(content).c_str(), 1 << 20, &patterns_, &results_), 5);
    // Lines later in the file follow the hit; the others are appended in turn.
    EXPECT_EQ(result_lines(),
              (std::vector<std::string>{"tail line", "ERROR disk full", "Mon Dec  7 10:05:00 2026",
                                        "before the hit", "Mon Dec  7 10:00:00 2026"}));
}

TEST_F(BackRead, NotsTextCancelsTheHit) {
    std::string content = "ERROR ignored here\nERROR real\nERROR ignored too\n";
    pattern("ERROR", 2, 5, "ignored");
    EXPECT_EQ(read_backwards(write(content).c_str(), 1 << 20, &patterns_, &results_), 1);
    EXPECT_EQ(result_lines(), (std::vector<std::string>{"ERROR real"}));
}

TEST_F(BackRead, ColumnOfThePattern) {
    std::string content = "xxERROR at 2\nERROR at 0\n";
    pattern("ERROR", 2, 5);
    f_getNext(&patterns_)->lstartcol = 1;
    EXPECT_EQ(read_backwards(write(content).c_str(), 1 << 20, &patterns_, &results_), 1);
    EXPECT_EQ(result_lines(), (std::vector<std::string>{"xxERROR at 2"}));
    EXPECT_EQ(f_getNext(&results_)->lstartcol, 2);
}

TEST_F(BackRead, MissingFileAddsNothing) {
    pattern("ERROR", 2, 5);
    EXPECT_EQ(read_backwards("/nonexistent/dir/errorlog", 1 << 20, &patterns_, &results_), 0);
    readBackBuff rb;
    EXPECT_EQ(read_back_init(&rb, "/nonexistent/dir/errorlog", 100), 0);
}

TEST_F(BackRead, ForwardStepsFromTheLineDeliveredLast) {
    std::string content = "one\ntwo\nthree\nfour\n";
    readBackBuff rb;
    ASSERT_EQ(read_back_init(&rb, write(content).c_str(), 1 << 20), 1);
    EXPECT_STREQ(read_back_next(&rb), "four");
    EXPECT_STREQ(read_back_next(&rb), "three");
    EXPECT_STREQ(read_back_next(&rb), "two");
    EXPECT_STREQ(read_back_prev(&rb, 1), "three");
    EXPECT_STREQ(read_back_prev(&rb, -2), "four");
    EXPECT_EQ(read_back_prev(&rb, -2), nullptr);
    read_back_prev(&rb, -1);

    // A copy reads on by itself.
    readBackBuff copy;
    readBackBuffCopy(&copy, &rb);
    EXPECT_STREQ(read_back_next(&copy), "one");
    EXPECT_EQ(read_back_next(&copy), nullptr);
    EXPECT_STREQ(read_back_next(&rb), "one");

    EXPECT_EQ(read_back_term(&rb), 1);
}

TEST_F(BackRead, LineLongerThanTheBlockComesBackWhole) {
    std::string huge(3 * 8192 + 17, 'h');
    std::string content = "start\n" + huge + "\nend\n";
    EXPECT_EQ(read_all(write(content), 1 << 30), (std::vector<std::string>{"end", huge, "start"}));
}

TEST_F(BackRead, ALineBeyondTheCarryLimitEndsTheReading) {
    std::string content = "start\n" + std::string((1 << 20) + 20000, 'z') + "\nend\n";
    std::string file = write(content);
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    auto got = read_all(file, 1 << 30);
    std::string out =
        testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    EXPECT_EQ(got, (std::vector<std::string>{"end"}));
    EXPECT_NE(out.find("Errorlog record longer than buffer"), std::string::npos) << out;
}

TEST_F(BackRead, TracedSearchFindsTheSame) {
    std::string content = "x\n" + std::string(9000, 'y') + "\nERROR a\nafter\n";
    pattern("ERROR", 2, 1);
    pattern("%PREV_LINE", -2, 1);
    std::string file = write(content);
    int16_t saved[10];
    std::copy(my_trace_all, my_trace_all + 10, saved);
    int16_t saved_all = trace_all;
    std::fill(my_trace_all, my_trace_all + 10, int16_t{23});
    trace_all = 1;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    int added = read_backwards(file.c_str(), 1 << 20, &patterns_, &results_);
    std::string out =
        testing::internal::GetCapturedStdout() + testing::internal::GetCapturedStderr();
    std::copy(saved, saved + 10, my_trace_all);
    trace_all = saved_all;
    EXPECT_EQ(added, 2);
    EXPECT_EQ(result_lines(), (std::vector<std::string>{"ERROR a", "after"}));
    EXPECT_NE(out.find("read_backwards, Found:2. line=ERROR a"), std::string::npos) << out;
}

}  // namespace
