// Lines are read whole: cutting a long line every 255 characters and inserting a blank at
// each cut would corrupt SQL text.
#include "defs/statement_reader.h"

#include <sys/types.h>

#include <cstdlib>
#include <cstring>

#include "defs/tokenizer.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

// The statement text may use the buffer up to the four padding blanks and the zero.
constexpr size_t max_text = sizeof_buffer - 5;

}  // namespace

void statement_reader_init(statement_reader* r, FILE* input, const char* trace_id,
                           const char* too_long_id) {
    r->input = input;
    r->trace_id = trace_id;
    r->too_long_id = too_long_id;
    r->line_no = 0;
    r->pending = 0;
    r->line = nullptr;
    r->line_cap = 0;
    r->echo = nullptr;
}

void statement_reader_close(statement_reader* r) {
    std::free(r->line);
    r->line = nullptr;
    r->line_cap = 0;
}

int read_statement(statement_reader* r, char** end) {
    size_t used = 0;
    bool too_long = false;
    long first_line = r->line_no + 1;
    r->pending = 0;
    for (;;) {
        ssize_t got = getline(&r->line, &r->line_cap, r->input);
        if (got < 0) break;
        ++r->line_no;
        char* line = r->line;
        size_t n = static_cast<size_t>(got);
        if (n > 0 && line[n - 1] == '\n') --n;
        if (n > 0 && line[n - 1] == '\r') --n;
        if (n >= 2 && line[0] == ';' && line[1] == ';') continue;
        if (trace_something) {
            if (r->echo != nullptr)
                r->echo(line, n, r->trace_id);
            else
                PRINT('i', r->trace_id, "%.*s\n", static_cast<int>(n), line);
        }
        if (n > 0 && line[0] == ';') continue;

        size_t i = 0;
        while (i < n && line[i] == ' ') ++i;
        if (used == 0) first_line = r->line_no;
        bool ended = false;
        for (; i < n && line[i] != '\0'; ++i) {
            if (line[i] == ';') {
                ended = true;
                break;
            }
            if (used < max_text)
                buffer[used++] = line[i];
            else
                too_long = true;
        }
        if (!ended) {
            if (used < max_text)
                buffer[used++] = ' ';
            else
                too_long = true;
            r->pending = 1;
            continue;
        }
        r->pending = 0;
        if (too_long) {
            PRINT('e', r->too_long_id, "Statement starting at line %ld is longer than %d bytes\n",
                  first_line, static_cast<int>(max_text));
            buffer[0] = '\0';
            return -1;
        }
        std::memcpy(buffer + used, "    ", 4);
        buffer[used + 4] = '\0';
        *end = buffer + used;
        this_start = buffer;
        parens = 0;
        failed = 0;
        return 1;
    }
    if (too_long) {
        PRINT('e', r->too_long_id, "Statement starting at line %ld is longer than %d bytes\n",
              first_line, static_cast<int>(max_text));
        r->pending = 0;
        buffer[0] = '\0';
        return -1;
    }
    buffer[used] = '\0';
    return 0;
}
