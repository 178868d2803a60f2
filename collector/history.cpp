// The historian and the row dump.
#include "collector/history.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "model/timebase.h"
#include "runtime/env.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

const char file_suffix[] = ".HST";

// One record: time, the row text with its NUL bytes as blanks, newline.
bool write_record(FILE* f, const char* now, const char* text, int32_t length) {
    std::string record(now, 14);
    record.append(text, static_cast<size_t>(length));
    for (size_t i = 14; i < record.size(); ++i)
        if (record[i] == '\0') record[i] = ' ';
    record += '\n';
    return std::fwrite(record.data(), 1, record.size(), f) == record.size();
}

// Appends the cursor's records to its file; false (after a message) when the file could
// not be opened, written or closed, the file then cut back to its length before.
bool write_history(curs* c, const char* now) {
    const char* home = env_vars.coll_home != nullptr ? env_vars.coll_home : ".";
    const std::string path = std::string(home) + "/" + c->cur_name + file_suffix;
    FILE* f = std::fopen(path.c_str(), "a");
    if (f == nullptr) {
        PRINT('e', "chi1630", "Can't open %s\n", path.c_str());
        return false;
    }
    if (c->trace != 0) PRINT('t', "chi1635", "Cur = %s, rows = %d\n", c->cur_name, c->count);
    if (c->length == 0) {
        PRINT('w', "chi1640", "Cursor (%s) needs history but has no length\n", c->cur_name);
        std::fclose(f);
        return true;
    }
    struct stat before {};
    const bool regular = fstat(fileno(f), &before) == 0 && S_ISREG(before.st_mode);
    bool ok = true;
    if (c->has_col_funct != 0 && c->column_data != nullptr) {
        ok = write_record(f, now, c->column_data->text, c->length);
    } else {
        for (row_data* r = c->first_row; ok && r != nullptr; r = r->next)
            if (c->samples == 0 || r->sampleno == c->sampleno)
                ok = write_record(f, now, r->text, c->length);
    }
    if (ok && std::fflush(f) != 0) ok = false;
    int error = ok ? 0 : errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        PRINT('e', "chi1632", "Can't write %s: %s\n", path.c_str(), std::strerror(error));
        // No partial record stays behind: the whole set goes out again next pass.
        if (regular && truncate(path.c_str(), before.st_size) != 0)
            PRINT('e', "chi1634", "Can't cut %s back to %lld bytes: %s\n", path.c_str(),
                  static_cast<long long>(before.st_size), std::strerror(errno));
    }
    return ok;
}

}  // namespace

int do_history(const char* now) {
    const int64_t t = relative_sec(now);
    int rc = 0;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (c->window_end <= t) set_window_c(c, t);
        if (c->window_start > t || c->history == 0 || c->needs_history == 0 || c->held == 'Y')
            continue;
        if (!write_history(c, now)) {
            rc = 1;
            continue;
        }
        c->needs_history = 0;
    }
    return rc;
}

int proded(int row_number, char* data, int length) {
    if (data == nullptr) return 0;
    if (row_number > 4 && my_trace_all[5] == 0) {
        char readable[152];
        const int n = length < 199 ? length : 199;
        u_printable(readable, data, n, "");
        PRINT('i', "cat1609", "Abbrv dump of row %d. %.80s\n", row_number, readable);
    } else {
        PRINT('i', "cat1610", "Dump of row %d\n", row_number);
        u_print_dumpx(nullptr, data, length != 0 ? length : static_cast<int>(std::strlen(data)));
    }
    return 0;
}
