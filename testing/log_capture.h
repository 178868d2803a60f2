// Test aid: sends the message writers' lines (everything written to `stder`) to a temporary
// file while it lives, and reads them back.
#pragma once

#include <cstdio>
#include <string>

#include "runtime/msg.h"

class LogCapture {
  public:
    LogCapture() : saved_(stder), file_(std::tmpfile()) {
        if (file_ != nullptr) stder = file_;
    }
    ~LogCapture() {
        stder = saved_;
        if (file_ != nullptr) std::fclose(file_);
    }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    // Everything written so far.
    std::string text() const {
        std::string out;
        if (file_ == nullptr) return out;
        std::fflush(file_);
        std::rewind(file_);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), file_)) > 0) out.append(buf, n);
        std::fseek(file_, 0, SEEK_END);
        return out;
    }
    // True when `s` was written.
    bool has(const std::string& s) const { return text().find(s) != std::string::npos; }

  private:
    FILE* saved_;
    FILE* file_;
};
