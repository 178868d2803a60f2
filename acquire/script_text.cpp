// Script texts and internal exits.
#include "acquire/script_text.h"

#include <cctype>
#include <cstring>
#include <vector>

#include "acquire/fetch_exit.h"
#include "acquire/monitor/smon_driver.h"
#include "acquire/script_words.h"
#include "collector/rows/column_lookup.h"
#include "collector/rows/dummy_rows.h"
#include "collector/rows/percent_cursor.h"
#include "collector/rows/row_store.h"
#include "collector/rows/trace_control.h"
#include "collector/transforms/column_exits.h"
#include "collector/transforms/decode.h"
#include "defs/tokenizer.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/dates.h"
#include "runtime/exec.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

constexpr size_t kCommandRoom = 100;
constexpr size_t kParametersRoom = 16000;

bool is_upper(char ch) { return ch >= 'A' && ch <= 'Z'; }
bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

// "ABC1234E text": a message line of another program, relayed at its severity.
bool message_shaped(const char* line) {
    if (std::strlen(line) <= 9) return false;
    for (int i = 0; i < 3; ++i)
        if (!is_upper(line[i])) return false;
    for (int i = 3; i < 7; ++i)
        if (!is_digit(line[i])) return false;
    return std::strchr("EWIT", line[7]) != nullptr && line[7] != '\0' && line[8] == ' ';
}

// Places the words of a line into the descriptor's fields; word i into column i.
void place_words(xSQLDA* x, char* text, int format_type) {
    char* const end = text + std::strlen(text);
    char* p = text;
    for (int i = 0; i < x->F; ++i) {
        int32_t len;
        char* word;
        bool quoted;
        if (format_type == 1) {
            len = get_word(p, end);
            if (len <= 0) break;
            word = this_start;
            quoted = len >= 2 && (word[0] == '\'' || word[0] == '"') && word[len - 1] == word[0];
            p = this_start + len;
        } else {
            len = simple_get_word(p, end);
            if (len <= 0) break;
            word = parse_word.text;
            quoted = (parse_word.flags & PW_COMMA) != 0;
            p = parse_word.text + len;
        }
        if (quoted && len >= 2) {
            ++word;
            len -= 2;
        }
        const int32_t room = x->L[i];
        if (room <= 0 || x->V[i] == nullptr) continue;
        *x->I[i] = 1;
        std::memset(x->V[i], ' ', static_cast<size_t>(room));
        int32_t k = len < room ? len : room;
        char* at = x->T[i] == 2 ? x->V[i] + (room - k) : x->V[i];
        std::memcpy(at, word, static_cast<size_t>(k));
    }
}

bool wants_dummy(const curs* c) { return c->dummy != 0 || c->conditional_dummy != 0; }

}  // namespace

r_exec_chain* exec_internal(char* /*command*/, char* name) {
    if (name == nullptr) return nullptr;
    size_t n = std::strlen(name);
    while (n > 0 && name[n - 1] == ' ') name[--n] = '\0';
    return smon_curs_driver(name);
}

int parse_script_text(curs* c, const char* time_stamp, int format_type) {
    int16_t skip = c->start_after;
    int16_t limit = c->stop_after;
    std::memcpy(c->ssqlcode, "               0", sizeof c->ssqlcode);
    script_command cmd;
    if (build_script_command(c, c->script, hv_style::script_text, kCommandRoom, kParametersRoom,
                             &cmd) != 0)
        return 1;
    if (c->trace)
        PRINT('t', "ccc4024", "Call Exit %s, Parms %.200s.\n", cmd.command.c_str(),
              cmd.parameters.c_str());

    auto* x = static_cast<xSQLDA*>(c->xlda);
    std::vector<int32_t> types(x != nullptr && x->F > 0 ? static_cast<size_t>(x->F) : 1, 0);
    r_exec_chain* lines;
    if (format_type == 9) {
        std::string command = cmd.command;
        std::string name = cmd.parameters;
        lines = exec_internal(command.data(), name.data());
        format_type = 2;
    } else {
        const fetch_ex* fx = c->fetch_exit;
        int limit_s = fx != nullptr && fx->optval > 0 ? fx->optval : fx_default_limit;
        lines = run_script_command(c, cmd, script_run::wait, limit_s, 10000);
    }
    if (lines == nullptr) {
        // No output is a fetch exit's run without rows (dummy row, or 1), never success.
        if (wants_dummy(c)) {
            if (c->dummy_text == nullptr && x != nullptr) {
                for (int i = 0; i < x->F; ++i) types[static_cast<size_t>(i)] = x->T[i];
                setup_dummy(c, x, types.data());
            }
            c->sqlcode = 100;
            return 0;
        }
        c->sqlcode = -1;
        std::memcpy(c->ssqlcode, "              -1", sizeof c->ssqlcode);
        return 1;
    }
    if (x == nullptr || x->F < 1) {
        PRINT('e', "ccc4030", "Cursor %s has no columns for the words of its script\n",
              c->cur_name);
        u_free_r_chain(lines);
        c->sqlcode = -1;
        std::memcpy(c->ssqlcode, "              -1", sizeof c->ssqlcode);
        return 1;
    }
    char* buffer = engine_alloc_work_buff();
    int rows = 0;
    r_exec_chain* e = lines;
    while (e != nullptr) {
        r_exec_chain* next = e->next;
        char* line = e->line;
        size_t n = std::strlen(line);
        if (n > 0 && line[n - 1] == '\n') line[--n] = '\0';
        if (c->trace) PRINT('t', "ccc4026", "Exit returned:\"%.200s\"\n", line);
        bool data = true;
        if (line[0] == '-' && line[1] == '>') {
            line += 2;
        } else if (message_shaped(line)) {
            PRINT(static_cast<char>(std::tolower(static_cast<unsigned char>(line[7]))), "", "%s\n",
                  line);
            data = false;
        }
        if (data && skip > 0) {
            --skip;
            data = false;
        }
        if (data) {
            ++c->rowno;
            ++rows;
            for (int i = 0; i < x->F; ++i) {
                *x->I[i] = -1;
                types[static_cast<size_t>(i)] = x->T[i];
            }
            place_words(x, line, format_type);
            if (merge_text(buffer, x, c, types.data(), time_stamp) == 0) {
                PRINT('w', "ccc4035", "Time = %s For cursor %s, merge failed after = %d rows\n",
                      u_get_time(nullptr, 1), c->cur_name, c->rowno);
                PRINT('w', "ccc4040", "Holding cursor\n");
                hold(c);
                c->sqlcode = -1;
                std::memcpy(c->ssqlcode, "              -1", sizeof c->ssqlcode);
                u_free_r_chain(e);
                return 1;
            }
            if (my_trace_all[7] || (c->trace && c->show_row)) proded(c->rowno, buffer, c->length);
        }
        e->next = nullptr;
        u_free_r_chain(e);
        e = next;
        if (data && limit > 0 && --limit == 0) break;
    }
    u_free_r_chain(e);
    if (c->dummy_text == nullptr && ((rows == 0 && wants_dummy(c)) || (rows > 0 && c->dummy)))
        setup_dummy(c, x, types.data());
    c->sqlcode = 100;
    return 0;
}
