// Aids of the collector tests: an orderly end that returns to the test, a clock that the
// sleeps advance, and clean configuration and dictionary state.
#pragma once

#include <gtest/gtest.h>

#include <ctime>
#include <vector>

#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/env.h"
#include "runtime/platform.h"

namespace colltest {

// Thrown by the trapped quitting: the code it was called with.
struct quit_called {
    int code;
};

// While it lives, quitting ends by throwing quit_called instead of ending the process.
class QuitTrap {
  public:
    QuitTrap() : saved_(quitting_hook) {
        quitting_hook = [](int code) {
            if (code != -1) throw quit_called{code};
        };
    }
    ~QuitTrap() { quitting_hook = saved_; }
    QuitTrap(const QuitTrap&) = delete;
    QuitTrap& operator=(const QuitTrap&) = delete;

  private:
    void (*saved_)(int);
};

// A clock that stands still until something sleeps; each sleep is recorded in seconds.
struct fake_time {
    static inline time_t now = 0;
    static inline std::vector<long> sleeps;
};

class FakeClock {
  public:
    explicit FakeClock(time_t start) {
        fake_time::now = start;
        fake_time::sleeps.clear();
        u_platform_set(u_platform_ops{[](struct timespec* out) {
                                          out->tv_sec = fake_time::now;
                                          out->tv_nsec = 0;
                                      },
                                      [](long ms) {
                                          fake_time::sleeps.push_back(ms / 1000);
                                          fake_time::now += ms / 1000;
                                      },
                                      nullptr});
    }
    ~FakeClock() { u_platform_reset(); }
    FakeClock(const FakeClock&) = delete;
    FakeClock& operator=(const FakeClock&) = delete;
};

// Frees the dictionary parameters that the command line made (names and values are
// copies there) and empties the list.
inline void free_dict_parms(bool texts_owned) {
    for (dict_parms* p = dict_parms_anchor; p != nullptr;) {
        dict_parms* next = p->next;
        if (texts_owned) {
            U_FREE(p->name);
            U_FREE(p->initial);
        }
        U_FREE(p);
        p = next;
    }
    dict_parms_anchor = nullptr;
}

// Clears the env_vars text fields the collector's options set, for the life of a test.
class CleanEnvVars {
  public:
    CleanEnvVars() { clear(); }
    ~CleanEnvVars() { clear(); }
    CleanEnvVars(const CleanEnvVars&) = delete;
    CleanEnvVars& operator=(const CleanEnvVars&) = delete;

  private:
    static void clear() {
        for (char** f : {&env_vars.serverid, &env_vars.db_type, &env_vars.tmpdir, &env_vars.logonid,
                         &env_vars.coll_home, &env_vars.ctl_home, &env_vars.errorlog,
                         &env_vars.password, &env_vars.coll_out, &env_vars.hostname})
            u_env_set_field(f, nullptr);
    }
};

}  // namespace colltest
