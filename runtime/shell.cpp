// Short shell commands run for their output.
#include "runtime/shell.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/alloc.h"
#include "runtime/child.h"
#include "runtime/exec.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/sleep.h"

namespace {

// popen with one retry after a second when it fails without a reason (errno 0).
FILE* open_command(const char* command) {
    if (!command) return nullptr;
    u_password_hidden hidden;  // the shell's children need no password
    errno = 0;
    FILE* f = popen(command, "re");
    if (!f && errno == 0) {
        u_sleep_ms(1000);
        f = popen(command, "re");
    }
    if (!f) {
        int err = errno;
        PRINT('e', "uti2050", "popen error (%d %s), cmd=%.40s...\n", err, std::strerror(err),
              command);
    }
    return f;
}

bool is_space(char c) { return std::isspace(static_cast<unsigned char>(c)) != 0; }

}  // namespace

char* u_shell(const char* command) {
    std::string text;
    if (FILE* f = open_command(command)) {
        char area[4094];
        size_t pos = 0;
        int empty_run = 0;
        for (int lines = 0; lines < 500 && pos + 1 < sizeof area; ++lines) {
            char* line = area + pos;
            if (!std::fgets(line, static_cast<int>(sizeof area - pos), f)) line[0] = '\0';
            if (line[0] == '\0') {
                if (++empty_run > 2) break;
                continue;
            }
            empty_run = 0;
            size_t len = std::strlen(line);
            while (len > 0 && is_space(line[len - 1])) --len;
            line[len] = '\0';
            if (len == 0) continue;
            pos += len;
            if (pos + 1 < sizeof area) area[pos++] = ' ';
            area[pos] = '\0';
        }
        pclose(f);
        if (pos > 0 && area[pos - 1] == ' ') --pos;
        text.assign(area, pos);
    }
    char* out = static_cast<char*>(
        u_malloc(static_cast<long>(text.size() + 1), __FILE__, __LINE__, "length+1"));
    std::memcpy(out, text.c_str(), text.size() + 1);
    return out;
}

r_exec_chain* u_popen(const char* command) {
    FILE* f = open_command(command);
    if (!f) return nullptr;
    r_exec_chain* head = nullptr;
    r_exec_chain* tail = nullptr;
    char buf[4097];
    int empty_run = 0;
    for (int lines = 0; lines < 10000; ++lines) {
        if (!std::fgets(buf, sizeof buf, f)) buf[0] = '\0';
        if (buf[0] == '\0') {
            if (++empty_run > 5) break;
            continue;
        }
        empty_run = 0;
        size_t len = std::strlen(buf);
        if (buf[len - 1] == '\n') buf[--len] = '\0';
        auto* e = static_cast<r_exec_chain*>(
            u_malloc(static_cast<long>(sizeof(r_exec_chain) + len + 1), __FILE__, __LINE__,
                     "sizeof(struct r_exec_chain) + length +1"));
        e->next = nullptr;
        e->size = static_cast<int32_t>(len);
        std::memcpy(e->line, buf, len + 1);
        if (tail)
            tail->next = e;
        else
            head = e;
        tail = e;
    }
    pclose(f);
    return head;
}
