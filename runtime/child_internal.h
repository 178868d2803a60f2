// What the files of the child-process runner share among themselves (spawning, reaping,
// the output and input pumps, the parameter file). Not for use outside runtime/child_*.cpp.
#pragma once

#include <cstdint>
#include <cstring>
#include <ctime>
#include <string>

#include "runtime/alloc.h"
#include "runtime/child.h"

namespace child_detail {

inline constexpr int kGraceMs = 500;      // between SIGTERM and SIGKILL
inline constexpr int kEndOwnMs = 2000;    // a child whose input was closed may end by itself
inline constexpr int kTickMs = 20;        // exit checks when no pidfd is available
inline constexpr int kQuietMs = 300;      // output of an ended child held open elsewhere
inline constexpr char kEndMark = '\x1a';  // a line ending with it ends the output

inline double now_mono() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

// Milliseconds left until a now_mono() deadline, 0 when passed; fits a poll() timeout.
inline int ms_until(double deadline) {
    double left = (deadline - now_mono()) * 1000.0;
    if (left <= 0) return 0;
    if (left > 2e9) return 2000000000;
    return static_cast<int>(left + 0.999);
}

// A copy from u_malloc, freed with U_FREE.
inline char* dup_text(const std::string& s) {
    auto* p = static_cast<char*>(U_MALLOC(s.size() + 1));
    std::memcpy(p, s.c_str(), s.size() + 1);
    return p;
}

// Pumps (child_pumps.cpp): read what the output pipe holds until the deadline; write more
// of the parameters to the child's standard input; whether some are still to be written.
void drain_stdout(const execopt* opts, createProcessComm* cpc, double deadline);
void feed_stdin(const execopt* opts, createProcessComm* cpc);
bool stdin_pending(const createProcessComm* cpc);
// Gives the run's reader buffer back (kept for the next run, or freed).
void release_reader(createProcessComm* cpc);

}  // namespace child_detail
