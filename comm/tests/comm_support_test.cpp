// The layer under the transports: function codes, wait time, choice of transport.
#include "comm/comm_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "runtime/env.h"

namespace {

TEST(ZovcommWords, TableWithoutRegardToCase) {
    struct Case {
        const char* word;
        int code;
    } cases[] = {
        {"init", 1},  {"initc", 2},
        {"get", 3},   {"GET", 3},
        {"Put", 4},   {"term", 5},
        {"shut", 6},  {"initsm", 7},
        {"gets", 0},  {"", 0},
        {"ini", 0},   {"init ", 0},
        {nullptr, 0}, {"initsmxxxxxxxxxxxxxxxxxx", 0},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(zovcomm_code_of(c.word), c.code) << (c.word ? c.word : "(null)");
    }
}

TEST(ZovcommWords, EachCodeNamesTheWordThatGivesItBack) {
    for (int code = ZOVCOMM_INIT; code <= ZOVCOMM_INITSM; code++) {
        ASSERT_NE(zovcomm_word_of(code), nullptr) << code;
        EXPECT_EQ(zovcomm_code_of(zovcomm_word_of(code)), code);
    }
    EXPECT_EQ(zovcomm_word_of(0), nullptr);
    EXPECT_EQ(zovcomm_word_of(ZOVCOMM_INITSM + 1), nullptr);
}

class EnvGuard {
  public:
    explicit EnvGuard(const char* name) : name_(name) {
        const char* v = getenv(name);
        if (v) old_ = v, had_ = true;
    }
    ~EnvGuard() {
        if (had_)
            setenv(name_, old_.c_str(), 1);
        else
            unsetenv(name_);
    }

  private:
    const char* name_;
    std::string old_;
    bool had_ = false;
};

TEST(WaitTime, GetTimeoutValueTable) {
    EnvGuard g("ZOV_TEST_WAIT");
    struct Case {
        const char* value;  // null: unset
        int expected;
    } cases[] = {
        {nullptr, 45}, {"", 45},   {"0", 45},    {"10", 10},          {"7s", 7},
        {"abc", 45},   {"-5", 45}, {"120", 120}, {"99999999999", 45},
    };
    for (const auto& c : cases) {
        if (c.value)
            setenv("ZOV_TEST_WAIT", c.value, 1);
        else
            unsetenv("ZOV_TEST_WAIT");
        EXPECT_EQ(get_timeout_value("ZOV_TEST_WAIT", 45), c.expected)
            << (c.value ? c.value : "(unset)");
    }
}

TEST(WaitTime, FirstInitOfTheProcessWins) {
    EnvGuard g1("WAIT_TIMEOUT");
    EnvGuard g2("COLL_WAIT_TIMEOUT");
    int saved = wait_timeout;
    wait_timeout = 0;
    setenv("WAIT_TIMEOUT", "0", 1);
    setenv("COLL_WAIT_TIMEOUT", "9", 1);
    comm_set_wait_timeout("WAIT_TIMEOUT", 45);
    EXPECT_EQ(wait_timeout, 45);
    comm_set_wait_timeout("COLL_WAIT_TIMEOUT", 5);
    EXPECT_EQ(wait_timeout, 45);
    wait_timeout = saved;
}

TEST(Transport, CollUseShmChoosesTheTransport) {
    char* saved = env_vars.useshm;
    struct Case {
        const char* value;
        bool shm;
    } cases[] = {{nullptr, true}, {"1", true}, {"1abc", true}, {"0", false},
                 {"no", false},   {"", false}, {"2", false}};
    for (const auto& c : cases) {
        env_vars.useshm = const_cast<char*>(c.value);
        EXPECT_EQ(comm_use_shm(), c.shm) << (c.value ? c.value : "(unset)");
    }
    env_vars.useshm = saved;
}

}  // namespace
