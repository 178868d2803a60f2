// The collector's side of the parent-child SQL channel.
#include "acquire/channel_parent.h"

#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unordered_set>
#include <vector>

#include "acquire/fetch_merge.h"
#include "acquire/result_sets.h"
#include "collector/rows/trace_control.h"
#include "collector/transforms/host_vars.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"
#include "runtime/dates.h"
#include "runtime/env.h"
#include "runtime/exec.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

extern char** environ;

namespace {

// Records of an answer other than rows read at most (rows are bounded by the row limit the
// child is sent and by the merge).
constexpr int kMaxRecords = 10000;
// The widest row limit a `!X R` record carries (four digits); a larger one is applied by
// the reader of the answer.
constexpr int kMaxSentLimit = 9999;
// Row text starts at byte 3 of a record: the widest row a record carries.
constexpr int kMaxRowText = pcc_line_max - 3;
// A statement starts at byte 5 of its record.
constexpr int kMaxStatement = pcc_line_max - 5;
// Answers of other cursors read inside a read, at most: a child that keeps naming other
// cursors cannot grow the stack without end.
constexpr int kMaxNesting = 8;
int nesting = 0;

constexpr char kSqlcodeFail[] = "              -1";

// The request blocks made here: a cursor's cur_memory holds other kinds of memory on other
// paths, so the clean-up asks here before it frees one.
std::unordered_set<const void*>& request_blocks() {
    static std::unordered_set<const void*> blocks;
    return blocks;
}

dist_anchored_dbapsa* block_of(distrib* d) { return static_cast<dist_anchored_dbapsa*>(d->dbapsa); }

cur_memory_s* request_of(curs* c) {
    if (c == nullptr || !channel_is_request_block(c->cur_memory)) return nullptr;
    return static_cast<cur_memory_s*>(c->cur_memory);
}

bool child_runs(const dist_anchored_dbapsa* b) {
    return b != nullptr && b->opts.ihandle != nullptr;
}

// A fixed-width text field of the distributor (no NUL when full) without trailing blanks.
std::string field_text(const char* field, size_t width) {
    size_t n = strnlen(field, width);
    while (n > 0 && field[n - 1] == ' ') --n;
    return std::string(field, n);
}

// The cursor field of a status record without trailing blanks.
std::string status_cursor(const char* rec) {
    pcc_status s;
    return pcc_parse_status(rec, &s) == 0 ? s.cursor : "";
}

bool names_an_answer(const std::string& name) { return !name.empty() && name != " "; }

char message_letter(const char* line) {
    char ch = line[8] == ' ' ? line[7] : line[8];
    return static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
}

// !M records and plain message lines go to the log.
void log_message_record(const char* rec) {
    pcc_message m;
    pcc_parse_message(rec, &m);
    const char type = m.type != 0 ? m.type : 'i';
    PRINT(static_cast<char>(std::tolower(static_cast<unsigned char>(type))), "..", "%s\n", m.text);
}

void log_message_line(const char* line) { PRINT(message_letter(line), ".-", "%s\n", line); }

// Ends the child: nothing it still writes can be matched to a request any more.
void end_child(distrib* d, dist_anchored_dbapsa* b) {
    if (child_runs(b)) u_exec_term(&b->opts);
    b->outstanding = 0;
    d->state = static_cast<uint16_t>(d->state & ~DIST_CHANNEL_CONNECTED);
}

// Sends the record in the block's buffer; a failed write ends the child (what reached it is
// no whole request).
int send(distrib* d, dist_anchored_dbapsa* b) {
    int rc = pcc_send_sql(b->buffer, &b->opts);
    if (rc != 0) end_child(d, b);
    return rc;
}

// How one read of a record ended.
enum class got { record, timeout, end };

got receive(dist_anchored_dbapsa* b) {
    int letter = pcc_receive_sql(b->buffer, &b->opts);
    if (letter == 'Z' && b->opts.processRC == pRC_timedout) return got::timeout;
    if (letter == 0 && b->buffer[0] == '\0') return got::end;
    return got::record;
}

// Reads up to the answer's end record. True when it came; false after a time-out, the end
// of the child's output or kMaxRecords records without one.
bool flush_to_z(dist_anchored_dbapsa* b, const char* name) {
    char kept[10];
    std::snprintf(kept, sizeof kept, "%.9s", name != nullptr ? name : "");
    for (int n = 0; n < kMaxRecords;) {
        got g = receive(b);
        if (g != got::record) return false;
        const char* rec = b->buffer;
        pcc_header h;
        if (pcc_parse_header(rec, &h) == 0) {
            switch (h.id) {
                case 'Z':
                    if (names_an_answer(kept) && b->outstanding > 0) --b->outstanding;
                    return true;
                case 'I':
                    if (h.type == 'S')
                        std::snprintf(kept, sizeof kept, "%s", status_cursor(rec).c_str());
                    ++n;
                    break;
                case 'M':
                    log_message_record(rec);
                    ++n;
                    break;
                case 'D':
                    break;
                default:
                    if (u_trace_on(2)) PRINT('t', "fex0367", "Flushing input %.20s\n", rec);
                    ++n;
                    break;
            }
        } else if (u_ismessage(rec)) {
            log_message_line(rec);
            ++n;
        } else {
            PRINT('w', "fex0365", "invalid pcc header %.20s\n", rec);
            ++n;
        }
    }
    return false;
}

// The answer to a request that names no cursor (reconnect, commit, disconnect): its status
// record's code and connection letter. False when it did not come whole.
bool read_plain_answer(dist_anchored_dbapsa* b, int* code, char* connected) {
    *code = 0;
    *connected = ' ';
    for (int n = 0; n < kMaxRecords; ++n) {
        if (receive(b) != got::record) return false;
        const char* rec = b->buffer;
        pcc_header h;
        pcc_status s;
        if (pcc_parse_header(rec, &h) != 0) {
            if (u_ismessage(rec))
                log_message_line(rec);
            else
                PRINT('w', "fex0355", "invalid pcc header %.20s\n", rec);
            continue;
        }
        if (h.id == 'Z') return true;
        if (h.id == 'M') {
            log_message_record(rec);
        } else if (pcc_parse_status(rec, &s) == 0) {
            *code = s.return_code.value_or(1);
            *connected = s.connected;
        }
    }
    return false;
}

// The trace levels as a trace word the child reads from COLL_DEBUG: "-d" (trace on), then
// one letter per level (c off, d level 1 ... z level 23).
std::string trace_word() {
    std::string w = "-d";
    for (int i = 0; i <= my_trace_all_l && i < 10; ++i) {
        int level = my_trace_all[i];
        if (level < 0) level = 0;
        if (level > 23) level = 23;
        w += static_cast<char>('c' + level);
    }
    return w;
}

// The program to start: from COLL_BINPATH when it is there, else its name alone (found on
// the search path).
std::string program_path(const std::string& program) {
    const char* bin = env_vars.bin_home != nullptr && *env_vars.bin_home
                          ? env_vars.bin_home
                          : std::getenv("COLL_BINPATH");
    if (bin != nullptr && *bin) {
        std::string full = std::string(bin) + "/" + program;
        if (access(full.c_str(), X_OK) == 0) return full;
    }
    return program;
}

int start_child(distrib* d, dist_anchored_dbapsa* b) {
    const std::string program = std::string(u_db_type(0)) + "sql";
    const std::string server = field_text(d->server_id, sizeof d->server_id);
    const std::string logon = field_text(d->logon_id, sizeof d->logon_id);
    const std::string password(d->password, strnlen(d->password, sizeof d->password));
    std::string path = program_path(program);

    std::vector<std::string> words = {path};
    if (!server.empty()) {
        words.emplace_back("-rdbms");
        words.push_back(server);
    }
    if (!logon.empty()) {
        words.emplace_back("-logonid");
        words.push_back(logon);
    }
    words.emplace_back("I");

    // The child's own environment: the password and the trace levels replace what the
    // collector's environment holds.
    std::vector<std::string> env;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) {
        const bool password_entry = std::strncmp(*e, "COLL_PASSWORD=", 14) == 0;
        const bool debug_entry = std::strncmp(*e, "COLL_DEBUG=", 11) == 0;
        if ((password_entry && !password.empty()) || (debug_entry && trace_all)) continue;
        env.emplace_back(*e);
    }
    if (!password.empty()) env.push_back("COLL_PASSWORD=" + password);
    if (trace_all) env.push_back("COLL_DEBUG=" + trace_word());

    std::vector<char*> argv, envp;
    for (auto& w : words) argv.push_back(w.data());
    argv.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);

    b->opts = execopt{};
    b->opts.envchain = envp.data();
    int rc = u_exec_perm_argv(argv.data(), &b->opts);
    b->opts.envchain = nullptr;
    for (auto& e : env) std::fill(e.begin(), e.end(), '\0');
    if (rc != 0) {
        PRINT('e', "fxr0202", "Could not start database access program %s\n", program.c_str());
        return 1;
    }
    b->outstanding = 0;
    d->state = static_cast<uint16_t>(d->state | DIST_CHANNEL_CONNECTED);
    return 0;
}

// The announced layout of the anchor is described whole.
bool layout_complete(const _anchorDBdata* a) {
    return a != nullptr && a->ncols > 0 && a->Acoldata != nullptr &&
           a->Acoldata[a->ncols - 1].number != 0;
}

// Columns of the anchor described so far.
int described(const _anchorDBdata* a) {
    if (a == nullptr || a->Acoldata == nullptr) return 0;
    int n = 0;
    while (n < a->ncols && a->Acoldata[n].number != 0) ++n;
    return n;
}

// Bytes the described columns cover.
int row_width(const _anchorDBdata* a) {
    int n = described(a);
    if (n == 0) return 0;
    const _columnData& last = a->Acoldata[n - 1];
    return last.offset + last.length;
}

void set_failed(curs* c) {
    c->sqlcode = -1;
    std::memcpy(c->ssqlcode, kSqlcodeFail, sizeof c->ssqlcode);
}

_anchorDBdata* anchor_of(distrib* d, curs* c) {
    if (c->db_data == nullptr)
        c->db_data = DB_DATA_init(static_cast<_anchorDBX*>(d->dbx), nullptr, 0);
    return static_cast<_anchorDBdata*>(c->db_data);
}

// One read of answers; see get_cursor_DB.
struct reader {
    distrib* d;
    dist_anchored_dbapsa* b;
    curs* target;  // the cursor the call is for; null: every outstanding answer
    int expected;
    int result = 0;
    std::string answer = " ";  // cursor name of the current answer's status record
    curs* cur = nullptr;
    cur_memory_s* req = nullptr;
    _rowData* row = nullptr;  // the row record over the receive buffer
    _anchorDBdata* row_anchor = nullptr;
    bool describing = false;  // this answer's !I I was taken: its !C records follow
    int rows = 0;             // rows merged into cur by this answer
    bool whole = false;       // the last answer read ended with its !Z

    ~reader() { drop_row(); }

    void drop_row() {
        if (row != nullptr) {
            row->buffer = nullptr;  // it pointed into the receive buffer
            ROW_DATA_free(row_anchor, row);
            row = nullptr;
            row_anchor = nullptr;
        }
    }

    // Flushes the rest of the answer; false (and the child ended) when it did not end.
    bool flush(const char* name) {
        if (flush_to_z(b, name)) return true;
        end_child(d, b);
        return false;
    }

    void use_cursor(curs* c) {
        if (c == cur) return;
        drop_row();
        cur = c;
        req = request_of(c);
        describing = false;
        rows = 0;
    }

    // The answer of a cursor is read whole: no row, no dummy row is a failure.
    // Judged per answer, not by tiCount: a later empty answer would pass with no dummy row.
    void finish_answer() {
        if (cur == nullptr) return;
        if (rows == 0) {
            if (cur->dummy_text == nullptr && (cur->conditional_dummy || cur->dummy)) {
                _anchorDBdata* a = static_cast<_anchorDBdata*>(cur->db_data);
                ccmr_setup_dummy(cur, a != nullptr ? a->Acoldata : nullptr,
                                 a != nullptr ? a->ncols : 0);
            } else {
                set_failed(cur);
                result = 1;
            }
        }
    }

    // Ends the read with a broken answer: flushed, result 2. A layout it was describing is
    // dropped, so that the next request asks for headers again.
    void broken(const char* why) {
        PRINT('e', "fex0360", "Broken answer from the database access program: %s\n", why);
        if (describing && cur != nullptr) {
            auto* a = static_cast<_anchorDBdata*>(cur->db_data);
            U_FREE(a->Acoldata);
            a->Acoldata = nullptr;
            a->ncols = 0;
            a->maxRowSize = 0;
            describing = false;
        }
        flush(answer.c_str());
        result = 2;
    }

    // false: reading stops.
    bool column_info(const char* rec) {
        if (cur == nullptr || req == nullptr) return true;
        _anchorDBdata* a = anchor_of(d, cur);
        if (layout_complete(a)) return true;  // later headers of a known layout
        pcc_sizes z;
        const bool sized = pcc_parse_sizes(rec, &z) == 0;
        const int cols = z.num_cols, size = z.row_size;
        if (!sized || cols < 1 || cols > kMaxRowText || size < 0 || size > kMaxRowText) {
            broken("column count or row size out of range");
            return false;
        }
        if (a->Acoldata != nullptr) {
            U_FREE(a->Acoldata);  // a layout left incomplete by an earlier answer
            a->Acoldata = nullptr;
        }
        a->ncols = static_cast<uint16_t>(cols);
        a->maxRowSize = size;
        req->cols_done = 0;
        describing = true;
        return true;
    }

    bool column(const char* rec) {
        if (cur == nullptr || req == nullptr || req->cols_done || !describing) return true;
        _anchorDBdata* a = anchor_of(d, cur);
        if (described(a) >= a->ncols) {
            broken("more column records than announced");
            return false;
        }
        pcc_column col;
        if (pcc_parse_column(rec, &col) != 0 || col.length < 1 ||
            row_width(a) + col.length > kMaxRowText) {
            broken("column length out of range");
            return false;
        }
        gcbd_set1col(col.name, col.type, col.length, a);
        return true;
    }

    bool data_row(char* rec) {
        if (cur == nullptr || req == nullptr) return true;
        req->cols_done = 1;
        describing = false;
        // A limit the child could not be told is applied here as the child applies its own:
        // the rows past it are read and dropped.
        if (cur->limit > kMaxSentLimit && rows >= cur->limit) return true;
        _anchorDBdata* a = anchor_of(d, cur);
        if (row == nullptr) {
            a->flags = static_cast<uint16_t>(a->flags | DBD_NO_ROW_BUFFER);
            row = ROW_DATA_init(a);
            row_anchor = a;
        }
        // A short row is blank-padded to the layout's width.
        char* text = pcc_parse_data(rec);
        const int have = static_cast<int>(std::strlen(text));
        const int need = row_width(a);
        if (have < need) {
            std::memset(text + have, ' ', static_cast<size_t>(need - have));
            text[need] = '\0';
        }
        row->buffer = text;
        static char merged[ccmr_buffer_size];
        merged[0] = '\0';
        if (ccmr_mergeResults(merged, cur, a, row, req->name) <= 0) {
            PRINT('e', "qpp0350", "Time = %s For cursor %s, merge failed after = %d rows\n",
                  u_get_time(nullptr, 2), cur->cur_name, cur->tiCount);
            PRINT('e', "qpp0355", "Holding cursor\n");
            hold(cur);
            flush(answer.c_str());
            result = 2;
            return false;
        }
        ++rows;
        ++cur->totalDataRowsReturned;
        ++cur->tiCount;
        ++cur->rowno;
        if (cur->trace) proded(cur->count, merged, cur->length);
        return true;
    }

    bool status(const char* rec) {
        pcc_status s;
        pcc_parse_status(rec, &s);
        if (!s.return_code || !s.supplied_id) {
            broken("status record without its codes");
            return false;
        }
        const int supplied = *s.supplied_id;
        const int dberr = s.db_error_code.value_or(0);
        result = *s.return_code;
        answer = s.cursor;
        if (answer.empty()) {
            broken("status record without a cursor name");
            return false;
        }
        if (target == nullptr && cur == nullptr) {
            std::vector<char> name(answer.begin(), answer.end());
            name.push_back('\0');
            curs* found = LocateCurs(d, name.data());
            if (found == nullptr || request_of(found) == nullptr) return true;  // skipped
            use_cursor(found);
            anchor_of(d, cur);
        } else if (cur == nullptr || answer != cur->cur_name) {
            PRINT('i', "fex3220", "Cursor name mismatch\n");
            std::vector<char> name(answer.begin(), answer.end());
            name.push_back('\0');
            curs* other = LocateCurs(d, name.data());
            if (other != nullptr && other != target && request_of(other) != nullptr &&
                nesting < kMaxNesting) {
                // The other cursor's answer is read for it; its status record is gone, so
                // the nested read starts behind it.
                ++nesting;
                int sub = get_cursor_DB(d, other);
                --nesting;
                if (!child_runs(b)) {
                    result = sub;
                    return false;
                }
                if (sub > 99) {
                    PRINT('e', "fex3222", "Recursive get_cursor failed.\n");
                    result = sub;
                    if (!flush(answer.c_str())) return false;
                }
            } else {
                PRINT('w', "fex3223", "Cursor name invalid: %s\n", answer.c_str());
                if (!flush(answer.c_str())) return false;
            }
            answer = " ";
            return true;
        }
        if (req == nullptr || supplied != req->request_id) {
            PRINT('e', "fex3210", "Request ID mismatch. got:%d, Expected:%d\n", supplied,
                  req != nullptr ? req->request_id : 0);
            flush(answer.c_str());
            result = CHANNEL_ID_MISMATCH;
            return false;
        }
        cur->sqlcode = dberr;
        if (s.connected == 'N' && u_trace_on(4))
            PRINT('t', "fex3230", "Database is not connected\n");
        return true;
    }

    // The end record of an answer; false: reading stops.
    bool end_of_answer() {
        if (!names_an_answer(answer)) return true;  // no status record yet
        if (b->outstanding > 0) --b->outstanding;
        --expected;
        if (target != nullptr) {
            if (cur == target) {
                whole = true;
                return false;
            }
            answer = " ";
            return true;
        }
        finish_answer();
        use_cursor(nullptr);
        answer = " ";
        return expected > 0;
    }

    void run() {
        for (int n = 0; n < kMaxRecords;) {
            got g = receive(b);
            if (g != got::record) {
                end_child(d, b);
                result = CHANNEL_NO_ANSWER;
                return;
            }
            char* rec = b->buffer;
            pcc_header h;
            if (pcc_parse_header(rec, &h) != 0) {
                if (u_ismessage(rec))
                    log_message_line(rec);
                else
                    PRINT('w', "fex0355", "invalid pcc header %.20s\n", rec);
                ++n;
                continue;
            }
            if (h.id == 'D' && cur != nullptr) {
                if (!data_row(rec)) return;
                continue;
            }
            ++n;
            switch (h.id) {
                case 'C':
                    if (!column(rec)) return;
                    break;
                case 'D':
                    break;  // a row of an answer no cursor takes
                case 'I':
                    if (h.type == 'I') {
                        if (!column_info(rec)) return;
                    } else if (h.type == 'S') {
                        if (!status(rec)) return;
                    } else if (h.type != 'P') {
                        PRINT('w', "qpp0353", "Invalid information record type %.50s\n", rec);
                    }
                    break;
                case 'M':
                    log_message_record(rec);
                    break;
                case 'Z':
                    if (!end_of_answer()) return;
                    break;
                default:
                    PRINT('w', "qpp0355", "Invalid record type %.50s\n", rec);
                    break;
            }
        }
        // An answer of more records than any answer has: the rest cannot be told apart from
        // the next answer.
        PRINT('e', "fex0370", "No end of the answer after %d records\n", kMaxRecords);
        end_child(d, b);
        result = CHANNEL_NO_ANSWER;
    }
};

}  // namespace

int StartDBAP(distrib* d) {
    dist_anchored_dbapsa* b = block_of(d);
    if (b == nullptr) {
        b = static_cast<dist_anchored_dbapsa*>(U_MALLOC(sizeof(dist_anchored_dbapsa)));
        std::memset(b, 0, sizeof *b);
        d->dbapsa = b;
    }
    if (!child_runs(b)) return start_child(d, b);
    if (d->state & DIST_CHANNEL_CONNECTED) return 0;
    // Running but disconnected: it connects again with its own settings.
    const std::string server = field_text(d->server_id, sizeof d->server_id);
    pcc_format(b->buffer, 'X', 'C', server.c_str());
    int rc = send(d, b);
    if (rc != 0) return rc;
    pcc_format(b->buffer, 'Z');
    rc = send(d, b);
    if (rc != 0) return rc;
    int code = 0;
    char connected = ' ';
    if (!read_plain_answer(b, &code, &connected)) {
        end_child(d, b);
        return CHANNEL_NO_ANSWER;
    }
    if (code != 0) return code;
    if (connected != 'Y') return 1;
    d->state = static_cast<uint16_t>(d->state | DIST_CHANNEL_CONNECTED);
    return 0;
}

int run_cursor_DB(distrib* d, curs* c, char* name) {
    const char* stamp = name != nullptr ? name : "";
    if (std::strlen(stamp) >= sizeof(cur_memory_s::name)) {
        PRINT('e', "fex0210", "Request name longer than %d characters refused: %.40s\n",
              static_cast<int>(sizeof(cur_memory_s::name) - 1), stamp);
        return CHANNEL_REFUSED;
    }
    // The statement, built before anything is sent.
    static char statement[hv_statement_size];
    const sel* s = c->insert_select;
    auto plain = [&] {
        const size_t n = s != nullptr && s->len > 0 ? static_cast<size_t>(s->len - 1) : 0;
        if (n > 0) std::memcpy(statement, s->text, n);
        statement[n] = '\0';
    };
    if (c->has_hvs_in_sel == 0) {
        plain();
    } else {
        int n = set_hvs_in_sel(c, statement);
        if (n == 0) {
            c->has_hvs_in_sel = 0;
            plain();
        } else if (n < 0) {
            PRINT('e', "fex0215", "Statement of cursor %s not built for this run\n", c->cur_name);
            return CHANNEL_REFUSED;
        }
    }
    const size_t len = std::strlen(statement);
    if (len > static_cast<size_t>(kMaxStatement)) {
        PRINT('e', "fex0220", "Statement of cursor %s has %d characters, more than %d\n",
              c->cur_name, static_cast<int>(len), kMaxStatement);
        return CHANNEL_REFUSED;
    }
    if (std::strpbrk(statement, "\r\n") != nullptr) {
        PRINT('e', "fex0225", "Statement of cursor %s holds a line break\n", c->cur_name);
        return CHANNEL_REFUSED;
    }

    bool fresh = false;
    if (!(d->state & DIST_CHANNEL_CONNECTED) || !child_runs(block_of(d))) {
        if (StartDBAP(d) != 0) return 1;
        fresh = true;
    }
    dist_anchored_dbapsa* b = block_of(d);
    cur_memory_s* req = request_of(c);
    if (req == nullptr) {
        req = static_cast<cur_memory_s*>(U_MALLOC(sizeof(cur_memory_s)));
        std::memset(req, 0, sizeof *req);
        c->cur_memory = req;
        request_blocks().insert(req);
        fresh = true;
    }
    std::snprintf(req->name, sizeof req->name, "%s", stamp);
    req->request_id = req->request_id % channel_max_request_id + 1;

    // Headers are asked for while the cursor has no layout: a first answer that failed
    // before its headers would otherwise leave every later row without columns.
    if (fresh || !layout_complete(static_cast<_anchorDBdata*>(c->db_data))) {
        pcc_format(b->buffer, 'X', 'X');
        if (int rc = send(d, b)) return rc;
    }
    pcc_format(b->buffer, 'X', 'A', c->cur_name);
    if (int rc = send(d, b)) return rc;
    pcc_format(b->buffer, 'X', 'I', req->request_id);
    if (int rc = send(d, b)) return rc;
    if (c->limit > 0 && c->limit <= kMaxSentLimit) {
        pcc_format(b->buffer, 'X', 'R', c->limit);
        if (int rc = send(d, b)) return rc;
    }
    pcc_format(b->buffer, 'S', 'S', nullptr);
    std::memcpy(b->buffer + 5, statement, len + 1);
    if (int rc = send(d, b)) return rc;
    pcc_format(b->buffer, 'Z');
    if (int rc = send(d, b)) return rc;
    ++b->outstanding;
    return 0;
}

int get_cursor_DB(distrib* d, curs* c) {
    if (d->dbx == nullptr) d->dbx = DBX_init(d->server_id, d->logon_id, d->password);
    dist_anchored_dbapsa* b = block_of(d);
    if (c != nullptr) {
        anchor_of(d, c);
        if (request_of(c) == nullptr) {
            PRINT('e', "fex0200", "Missing curm block\n");
            return 2;
        }
    } else if (b == nullptr || b->outstanding <= 0) {
        if (b != nullptr) b->outstanding = 0;
        return 0;
    }
    if (!child_runs(b)) {
        if (c != nullptr) set_failed(c);
        return CHANNEL_NO_ANSWER;
    }
    reader r{d, b, c, c != nullptr ? 1 : b->outstanding};
    if (c != nullptr) r.use_cursor(c);
    r.run();
    if (c != nullptr) {
        if (r.whole)
            r.finish_answer();
        else if (r.result != 0)
            set_failed(c);
    }
    return r.result;
}

int FlushInputToZ(dist_anchored_dbapsa* block, char* name) {
    if (block != nullptr && child_runs(block)) flush_to_z(block, name);
    return 0;
}

curs* LocateCurs(distrib* /*d*/, char* name) { return find_cursor(name); }

int StopDBAP(distrib* d, int mode) {
    dist_anchored_dbapsa* b = block_of(d);
    if (b == nullptr) return 0;
    if (!child_runs(b)) {
        d->state = static_cast<uint16_t>(d->state & ~DIST_CHANNEL_CONNECTED);
        return 0;
    }
    const bool connected = (d->state & DIST_CHANNEL_CONNECTED) != 0;
    const std::string server = field_text(d->server_id, sizeof d->server_id);
    int sum = 0;
    if (mode == 0 || mode == 1) {
        if (!connected) return 0;
        if (mode == 0) {
            pcc_format(b->buffer, 'X', 'O', nullptr);
        } else {
            d->state = static_cast<uint16_t>(d->state & ~DIST_CHANNEL_CONNECTED);
            pcc_format(b->buffer, 'X', 'D', server.c_str());
        }
        if ((sum = send(d, b)) != 0) return sum;
        pcc_format(b->buffer, 'Z');
        if ((sum = send(d, b)) != 0) return sum;
        int code = 0;
        char letter = ' ';
        if (!read_plain_answer(b, &code, &letter)) {
            end_child(d, b);
            return CHANNEL_NO_ANSWER;
        }
        return 0;
    }
    if (mode == 2) {
        // Each record is tried: a child that cannot be written to is ended all the same.
        if (connected) {
            pcc_format(b->buffer, 'X', 'D', server.c_str());
            sum += pcc_send_sql(b->buffer, &b->opts);
        }
        pcc_format(b->buffer, 'X', 'S', "FORCE");
        sum += pcc_send_sql(b->buffer, &b->opts);
        pcc_format(b->buffer, 'Z');
        sum += pcc_send_sql(b->buffer, &b->opts);
        end_child(d, b);
    }
    return sum;
}

int gcbd_set1col(char* name, char type, int length, _anchorDBdata* anchor) {
    if (anchor->Acoldata == nullptr) COLUMN_DATA_init(anchor, anchor->ncols);
    const int i = described(anchor);
    if (i >= anchor->ncols) return 1;
    _columnData& col = anchor->Acoldata[i];
    std::string text = name != nullptr ? name : "";
    while (!text.empty() && text.back() == ' ') text.pop_back();
    std::snprintf(col.name, sizeof col.name, "%s", text.c_str());
    col.length = length;
    col.width = length;
    col.offset = i == 0 ? 0 : anchor->Acoldata[i - 1].offset + anchor->Acoldata[i - 1].length;
    col.conv_type = 1;  // every value arrives as text
    col.number = static_cast<uint16_t>(i + 1);
    switch (type) {
        case 'C':
            col.type = 1;
            break;
        case 'D':
        case 'I':
        case 'N':
            col.type = 2;
            break;
        default:
            PRINT('e', "fxr1205", "invalid column type %c\n", type);
            break;
    }
    anchor->maxRowSize = col.offset + col.length + 1;
    return 0;
}

bool channel_is_request_block(const void* p) {
    return p != nullptr && request_blocks().count(p) != 0;
}

bool channel_release_cursor(curs* c) {
    if (c == nullptr || !channel_is_request_block(c->cur_memory)) return false;
    request_blocks().erase(c->cur_memory);
    U_FREE(c->cur_memory);
    c->cur_memory = nullptr;
    c->db_data = nullptr;  // the distributor's anchor holds it
    return true;
}

void channel_release_distributors() {
    for (distrib* d = distrib_anchor; d != nullptr; d = d->next) {
        if (d->dbapsa == nullptr) continue;
        StopDBAP(d, 2);
        U_FREE(d->dbapsa);
        d->dbapsa = nullptr;
        if (d->dbx != nullptr) {
            // The result sets go with the anchor: the cursors forget theirs.
            for (curs* c = cur_anchor; c != nullptr; c = c->next)
                if (channel_is_request_block(c->cur_memory)) c->db_data = nullptr;
            DBX_free(static_cast<_anchorDBX*>(d->dbx));
            d->dbx = nullptr;
        }
    }
}
