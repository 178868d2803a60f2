// What the harnesses share: a quiet log, the input as a NUL-terminated text or as an open
// file, and a scratch directory of the process.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

namespace fuzzing {

// The message writers write to /dev/null: a harness looks for crashes, not messages, and
// a log file would grow without end.
inline void quiet_log() {
    static FILE* sink = [] {
        // The log never wraps: wrapping would close the sink and open a log file.
        setenv("COLL_WRAPLINES", "0", 1);
        return std::fopen("/dev/null", "w");
    }();
    if (sink != nullptr) stder = sink;
}

// The input as a string (may hold NULs; c_str() is terminated).
inline std::string text(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// The bytes as a read-only stream over a copy (an empty input reads as end of file at
// once). Close with std::fclose; the copy lives in `keep`.
inline FILE* stream(const std::string& bytes, std::string* keep) {
    *keep = bytes.empty() ? std::string(1, '\0') : bytes;
    FILE* f = fmemopen(keep->data(), bytes.empty() ? 0 : keep->size(), "r");
    if (f == nullptr && bytes.empty()) f = std::fopen("/dev/null", "r");
    return f;
}

// A private directory of this process under $TMPDIR (or /tmp), made once and removed with
// what it holds when the process ends.
inline const std::string& scratch_dir() {
    // Never destroyed: the removal at exit runs after the static destructors.
    static const std::string* dir = [] {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/zovfuzzXXXXXX";
        char* made = mkdtemp(pattern.data());
        if (made == nullptr) return new std::string("/tmp");
        std::atexit([] {
            std::error_code ec;
            std::filesystem::remove_all(scratch_dir(), ec);
        });
        return new std::string(made);
    }();
    return *dir;
}

// Writes the bytes to `name` in the scratch directory; returns its path.
inline std::string write_file(const std::string& name, const std::string& bytes) {
    std::string path = scratch_dir() + "/" + name;
    if (FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    return path;
}

// Every trace switch off again (an input may turn them on).
inline void traces_off() {
    for (int16_t& l : my_trace_all) l = 0;
    trace_all = 0;
    trace_something = 0;
}

// A reader that ends the process (u_exit) throws this instead, so the harness can go on
// with the next input; the status is the one the process would have ended with.
struct exit_called {
    int status;
};

inline void exit_throws() {
    u_platform_ops ops{};
    ops.exit_process = [](int status) { throw exit_called{status}; };
    u_platform_set(ops);
}

}  // namespace fuzzing
