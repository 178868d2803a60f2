// zemcoll against a server that stalls, drops its connection or refuses the login: a pass
// spends at most one time-out on it, a dropped connection is made again within the pass,
// refused logins back off, and zovprobe is answered from the rows held all along.
#include <gtest/gtest.h>

// Built where the scripted test server is (freetds-dev installed).
#ifdef ZOVPROBE_PATH

#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "testing/zemcoll_tds.h"

namespace {

using zovtds::LogEntry;
using clock_type = std::chrono::steady_clock;

// Three SQL cursors collected every pass; each keeps only its last sample.
const char* const kCursors = R"(cursor CA;
  INSERT INTO CA (V) VALUES (:INT!V);
  insert_select select v from ta;
  interval 1;
  empty;
  class 1;
cursor CB;
  INSERT INTO CB (NAME, NUM) VALUES (:NAME, :INT!NUM);
  insert_select select name, num from tb;
  interval 1;
  empty;
  class 1;
cursor CC;
  INSERT INTO CC (W) VALUES (:INT!W);
  insert_select select w from tc;
  interval 1;
  empty;
  class 1;
end;
)";

const std::string kTa = "batch select v from ta\n  result V:int\n  row 1\n";
const std::string kTb =
    "batch select name, num from tb\n  result NAME:varchar(8) NUM:int\n  row 'alpha' 1\n"
    "  row 'beta' 2\n";
const std::string kTc = "batch select w from tc\n  result W:int\n  row 3\n";
const std::string kGood = kTa + kTb + kTc;

// What zovprobe prints for CB's rows of the good sample (NAME, then NUM as 4 bytes).
const char* const kGoodCb = "*********Cursor:CB, Rows:2\nalpha.......\n\nbeta........\n\n";

constexpr int kTimeout = 2;   // COLL_DB_TIMEOUT of these tests
constexpr int kInterval = 3;  // seconds between passes: a time-out fits in one
// Room for a loaded sanitizer build on top of what a pass must take.
constexpr auto kSlack = std::chrono::seconds(8);

size_t count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t p = text.find(what); p != std::string::npos; p = text.find(what, p + 1)) ++n;
    return n;
}

// The collector's log cut into its failed passes: the text up to each "One or more
// interval cursors failed".
std::vector<std::string> failed_passes(const std::string& log) {
    std::vector<std::string> out;
    size_t from = 0;
    for (size_t at = log.find("CGN1525E"); at != std::string::npos;
         at = log.find("CGN1525E", at + 1)) {
        out.push_back(log.substr(from, at - from));
        from = at + 1;
    }
    return out;
}

class ServerFaultsTds : public ::testing::Test {
  protected:
    // Starts the collector on `scenario`: a pass every `interval` seconds, 2-second
    // time-outs.
    void start(const std::string& scenario, int interval = kInterval) {
        coll_.interval = interval;
        coll_.collector_env = {"COLL_DB_TIMEOUT=" + std::to_string(kTimeout)};
        std::string error;
        ASSERT_TRUE(coll_.start(scenario, kCursors, false, 1, error)) << error;
    }
    void switch_to(const std::string& scenario) {
        std::string error;
        ASSERT_TRUE(coll_.set_scenario(scenario, error)) << error;
    }
    int entries(LogEntry::Kind kind, const std::string& text = "") {
        int n = 0;
        for (const auto& e : coll_.server().log())
            n += e.kind == kind && e.text.find(text) != std::string::npos;
        return n;
    }
    // Waits until the server has logged `n` entries of the kind (holding `text`); the
    // arrival time of the last, or nothing after `seconds`.
    bool wait_entries(LogEntry::Kind kind, int n, int seconds, clock_type::time_point* at,
                      const std::string& text = "") {
        const auto end = clock_type::now() + std::chrono::seconds(seconds);
        while (clock_type::now() < end) {
            if (entries(kind, text) >= n) {
                if (at) *at = clock_type::now();
                return true;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return false;
    }
    // Asks for `name`, checking the answer holds `rows`; the time it took.
    clock_type::duration probe_rows(const std::string& name, const std::string& rows) {
        std::string out;
        const auto t0 = clock_type::now();
        EXPECT_EQ(coll_.probe({"-n", "1", name}, out), 0) << out;
        const auto took = clock_type::now() - t0;
        EXPECT_NE(out.find(rows), std::string::npos) << out << coll_.output();
        return took;
    }
    // The first pass done on good answers.
    void first_pass() {
        ASSERT_TRUE(wait_entries(LogEntry::Batch, 1, 30, nullptr, "from tc")) << coll_.output();
    }
    // The collector's log alone (its errors are echoed to standard output as well).
    std::string log() const {
        std::string all;
        for (const auto& e : std::filesystem::directory_iterator(coll_.dir()))
            if (e.path().extension() == ".out") all += zemcoll_tds::read_file(e.path());
        return all;
    }
    zemcoll_tds::Collector coll_;
};

long ms(clock_type::duration d) {
    return static_cast<long>(std::chrono::duration_cast<std::chrono::milliseconds>(d).count());
}

// The connection drops in the first cursor and the login that makes it again stalls: the
// pass spends one time-out, skips the two other cursors with one message, and so does
// every pass after it; zovprobe gets the rows of the last good pass meanwhile.
TEST_F(ServerFaultsTds, AStalledLoginCostsOneTimeOutAPass) {
    start(kGood);
    first_pass();
    const int tb = entries(LogEntry::Batch, "from tb");
    const int tc = entries(LogEntry::Batch, "from tc");
    switch_to("login delay 600000\nbatch select v from ta\n  drop\n" + kTb + kTc);
    clock_type::time_point login[4];
    std::future<clock_type::duration> waited;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(wait_entries(LogEntry::Login, 2 + i, 30, &login[i])) << coll_.output();
        // Asked while the login stalls: answered when the pass has ended.
        if (i == 1)
            waited = std::async(std::launch::async, [this] { return probe_rows("CB", kGoodCb); });
    }
    const clock_type::duration probe_wait = waited.get();
    std::printf("probe waited %ld ms\n", ms(probe_wait));
    EXPECT_LT(probe_wait, std::chrono::seconds(kTimeout) + kSlack);
    for (int i = 1; i < 4; ++i) {
        // One login a pass: the logins come a pass apart.
        std::printf("pass %d: %ld ms\n", i, ms(login[i] - login[i - 1]));
        EXPECT_LT(login[i] - login[i - 1], std::chrono::seconds(kInterval) + kSlack);
    }
    EXPECT_EQ(entries(LogEntry::Batch, "from tb"), tb);
    EXPECT_EQ(entries(LogEntry::Batch, "from tc"), tc);
    ASSERT_TRUE(coll_.wait_for("CGN1525E", 10)) << coll_.output();
    const std::vector<std::string> passes = failed_passes(log());
    ASSERT_GE(passes.size(), 3u) << coll_.output();
    // The pass of the drop: CA lost the connection, CB's new login stalled, CC skipped.
    EXPECT_EQ(count(passes[0], "YPP0243E"), 1u) << passes[0];
    EXPECT_EQ(count(passes[0], "YCD0130E"), 1u) << passes[0];
    EXPECT_EQ(count(passes[0], "time-out; 1 SQL cursors skipped in this pass"), 1u) << passes[0];
    for (size_t i = 1; i < passes.size(); ++i) {
        const std::string& p = passes[i];
        EXPECT_EQ(count(p, "YCD0130E"), 1u) << p;
        EXPECT_EQ(count(p, "time-out after 2 seconds"), 1u) << p;
        EXPECT_EQ(count(p, "YCD0140E"), 1u) << p;
        EXPECT_EQ(count(p, "time-out; 2 SQL cursors skipped in this pass"), 1u) << p;
        EXPECT_EQ(count(p, "CGN1521E"), 1u) << p;  // the cursor that tried, not the skipped
    }
}

// One statement stalls: it times out, the cursor after it is skipped, the cursor before it
// runs every pass on a connection made again at the start of each.
TEST_F(ServerFaultsTds, AStalledStatementCostsOneTimeOutAPass) {
    start(kGood);
    first_pass();
    const int tc = entries(LogEntry::Batch, "from tc");
    const int logins = entries(LogEntry::Login);
    const int ta = entries(LogEntry::Batch, "from ta");
    switch_to(kTa + "batch select name, num from tb\n  delay 600000\n" + kTc);
    clock_type::time_point sent[4];
    std::future<clock_type::duration> waited;
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(wait_entries(LogEntry::Batch, entries(LogEntry::Batch, "from tb") + 1, 30,
                                 &sent[i], "from tb"))
            << coll_.output();
        // Asked while the statement stalls.
        if (i == 1)
            waited = std::async(std::launch::async, [this] {
                return probe_rows("CC", "*********Cursor:CC, Rows:1\n");
            });
    }
    EXPECT_LT(waited.get(), std::chrono::seconds(kTimeout) + kSlack);
    for (int i = 1; i < 4; ++i)
        EXPECT_LT(sent[i] - sent[i - 1], std::chrono::seconds(kInterval) + kSlack);
    EXPECT_EQ(entries(LogEntry::Batch, "from tc"), tc);
    EXPECT_GE(entries(LogEntry::Batch, "from ta"), ta + 4);
    // One login a pass: the one after each time-out.
    EXPECT_LE(entries(LogEntry::Login), logins + 4);
    const std::string text = log();
    EXPECT_NE(text.find("YPP0242E"), std::string::npos) << text;
    EXPECT_NE(text.find("no answer from the server within 2 seconds (time-out)"), std::string::npos)
        << text;
    EXPECT_EQ(text.find("YPP0240W"), std::string::npos) << text;
    for (const std::string& p : failed_passes(text)) {
        EXPECT_EQ(count(p, "YPP0242E"), 1u) << p;
        EXPECT_EQ(count(p, "time-out; 1 SQL cursors skipped in this pass"), 1u) << p;
    }
}

// The connection drops in the middle of CB's rows: CB keeps its good sample, the
// connection is made again at once and CC runs in the same pass.
TEST_F(ServerFaultsTds, ADropMidResultIsMadeAgainWithinThePass) {
    start(kGood);
    first_pass();
    const int logins = entries(LogEntry::Login);
    const int tc = entries(LogEntry::Batch, "from tc");
    switch_to(kTa +
              "batch select name, num from tb\n  result NAME:varchar(8) NUM:int\n  row 'x' 9\n"
              "  drop\n  row 'y' 8\n" +
              kTc);
    clock_type::time_point ran[4];
    for (int i = 0; i < 4; ++i) {
        ASSERT_TRUE(wait_entries(LogEntry::Batch, tc + 1 + i, 30, &ran[i], "from tc"))
            << coll_.output();
        // Each pass's CC came on a login made after CB's drop.
        EXPECT_GE(entries(LogEntry::Login), logins + 1 + i);
        const auto waited = probe_rows("CB", kGoodCb);
        EXPECT_LT(waited, kSlack);
    }
    for (int i = 1; i < 4; ++i)
        EXPECT_LT(ran[i] - ran[i - 1], std::chrono::seconds(kInterval) + kSlack);
    std::string out;
    ASSERT_EQ(coll_.probe({"-n", "1", "CB"}, out), 0) << out;
    EXPECT_EQ(out.find("x......"), std::string::npos) << out;
    const std::string text = log();
    EXPECT_NE(text.find("YPP0243E"), std::string::npos) << text;
    EXPECT_EQ(text.find("YCD0140E"), std::string::npos) << text;
    EXPECT_EQ(text.find("YPP0215E"), std::string::npos) << text;
}

// Every login refused: one attempt in each of the first three passes, then one every fifth
// pass, as the log says; the server's own log counts them.
TEST_F(ServerFaultsTds, RefusedLoginsBackOff) {
    start("login refuse\n" + kGood, 1);
    ASSERT_TRUE(coll_.wait_for("YCD0145E", 30)) << coll_.output();
    // Passes 4 to 7 try nothing; pass 8 tries again.
    for (int passes = 0; passes < 9;) {
        ASSERT_TRUE(coll_.wait_for("CGN1525E", 30)) << coll_.output();
        passes = static_cast<int>(failed_passes(log()).size());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    const std::vector<std::string> passes = failed_passes(log());
    const int refused = entries(LogEntry::LoginRefused);
    const int n = static_cast<int>(passes.size());
    auto expected = [](int p) { return (p < 3 ? p : 3) + (p >= 8) + (p >= 13) + (p >= 18); };
    EXPECT_TRUE(refused == expected(n) || refused == expected(n + 1))
        << refused << " refusals in " << n << " passes";
    const std::string text = log();
    EXPECT_NE(text.find("refused 3 times in a row: one attempt every 5 passes (5 seconds)"),
              std::string::npos)
        << text;
    for (int i = 3; i < 7 && i < n; ++i) {
        EXPECT_EQ(count(passes[i], "YCD0130E"), 0u) << passes[i];
        EXPECT_NE(passes[i].find("YCD0141E"), std::string::npos) << passes[i];
    }
    EXPECT_EQ(count(text, "YCD0130E"), static_cast<size_t>(refused)) << text;
    // Served meanwhile.
    std::string out;
    EXPECT_EQ(coll_.probe({"-n", "1", "D-STATUS"}, out), 0) << out;
}

}  // namespace

#endif  // ZOVPROBE_PATH
