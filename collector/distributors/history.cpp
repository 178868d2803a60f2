// The historian and the row dump.
#include "collector/distributors/history.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <deque>
#include <map>
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

// Records a cursor could not have written, kept for the next passes (oldest first).
constexpr size_t kKeptRecords = 1000;
struct kept_records {
    std::deque<std::string> records;
    long dropped = 0;  // the oldest, dropped to stay within kKeptRecords
};
// By cursor name: a cursor record may go (clean-up) while its records wait.
std::map<std::string, kept_records>& kept() {
    static std::map<std::string, kept_records> by_cursor;
    return by_cursor;
}

// One record: time, the row text with its NUL bytes as blanks, newline.
std::string make_record(const char* now, const char* text, int32_t length) {
    std::string record(now, 14);
    record.append(text, static_cast<size_t>(length));
    for (size_t i = 14; i < record.size(); ++i)
        if (record[i] == '\0') record[i] = ' ';
    record += '\n';
    return record;
}

// The cursor's new records of this pass.
void add_new_records(curs* c, const char* now, kept_records& k) {
    auto add = [&](const char* text) {
        if (k.records.size() >= kKeptRecords) {
            k.records.pop_front();
            ++k.dropped;
        }
        k.records.push_back(make_record(now, text, c->length));
    };
    if (c->has_col_funct != 0 && c->column_data != nullptr) {
        add(c->column_data->text);
    } else {
        for (row_data* r = c->first_row; r != nullptr; r = r->next)
            if (c->samples == 0 || r->sampleno == c->sampleno) add(r->text);
    }
}

// Appends the cursor's records (those kept from earlier passes first) to its file; false
// (after a message) when the file could not be opened, written or closed: the file is then
// cut back to its length before and the records stay kept, at most kKeptRecords of them.
bool write_history(curs* c, const char* now, bool fresh) {
    const char* home = env_vars.coll_home != nullptr ? env_vars.coll_home : ".";
    const std::string path = std::string(home) + "/" + c->cur_name + file_suffix;
    kept_records& k = kept()[c->cur_name];
    if (fresh && c->length != 0) add_new_records(c, now, k);
    auto settle = [&] {
        if (k.records.empty()) kept().erase(c->cur_name);
    };
    FILE* f = std::fopen(path.c_str(), "a");
    if (f == nullptr) {
        // The system's reason follows the name: a full disk and a refused permission need
        // different remedies, and the name alone told neither.
        PRINT('e', "chi1630", "Can't open %s: %s\n", path.c_str(), std::strerror(errno));
        settle();
        return false;
    }
    if (c->trace != 0) PRINT('t', "chi1635", "Cur = %s, rows = %d\n", c->cur_name, c->count);
    if (c->length == 0) {
        PRINT('w', "chi1640", "Cursor (%s) needs history but has no length\n", c->cur_name);
    }
    struct stat before {};
    const bool regular = fstat(fileno(f), &before) == 0 && S_ISREG(before.st_mode);
    std::string out;
    for (const std::string& r : k.records) out += r;
    bool ok = out.empty() || std::fwrite(out.data(), 1, out.size(), f) == out.size();
    if (ok && std::fflush(f) != 0) ok = false;
    int error = ok ? 0 : errno;
    if (std::fclose(f) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        PRINT('e', "chi1632", "Can't write %s: %s\n", path.c_str(), std::strerror(error));
        // No partial record stays behind: the kept records go out whole later.
        if (regular && truncate(path.c_str(), before.st_size) != 0)
            PRINT('e', "chi1634", "Can't cut %s back to %lld bytes: %s\n", path.c_str(),
                  static_cast<long long>(before.st_size), std::strerror(errno));
        return false;
    }
    if (k.dropped > 0)
        PRINT('w', "chi1636",
              "%ld history records of cursor %s were lost while %s could not be "
              "written\n",
              k.dropped, c->cur_name, path.c_str());
    k.records.clear();
    settle();
    return true;
}

}  // namespace

int do_history(const char* now) {
    const int64_t t = relative_sec(now);
    int rc = 0;
    for (curs* c = cur_anchor; c != nullptr; c = c->next) {
        if (c->window_end <= t) set_window_c(c, t);
        // A cursor with records kept from a failed write is served again even without new
        // rows, so they go out as soon as writing works.
        const bool waiting = !kept().empty() && kept().count(c->cur_name) != 0;
        if (c->window_start > t || c->history == 0 || c->held == 'Y' ||
            (c->needs_history == 0 && !waiting))
            continue;
        const bool fresh = c->needs_history != 0;
        c->needs_history = 0;  // its records are written or kept
        // On to the next cursor: one file that cannot be written must not cost the others.
        if (!write_history(c, now, fresh)) rc = 1;
    }
    return rc;
}
