// Test aid: sends the message writers' lines to a temporary log and reads them back.
#pragma once

#include <cstdio>
#include <string>

#include "runtime/msg.h"

class log_capture {
  public:
    log_capture() : saved_(stder), file_(std::tmpfile()) { stder = file_; }
    ~log_capture() {
        stder = saved_;
        if (file_ != nullptr) std::fclose(file_);
    }
    log_capture(const log_capture&) = delete;
    log_capture& operator=(const log_capture&) = delete;

    // Everything written so far.
    std::string text() {
        std::fflush(file_);
        std::string out;
        std::rewind(file_);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), file_)) > 0) out.append(buf, n);
        std::fseek(file_, 0, SEEK_END);
        return out;
    }
    bool has(const std::string& s) { return text().find(s) != std::string::npos; }

  private:
    FILE* saved_;
    FILE* file_;
};
