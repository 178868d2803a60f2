// Hold and release commands of decodes.
#include "collector/transforms/decode_actions.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

#include "collector/rows/column_lookup.h"
#include "collector/rows/row_store.h"
#include "collector/transforms/decode_eval.h"
#include "model/cursor.h"
#include "model/db_specifics.h"
#include "model/engine_globals.h"
#include "runtime/msg.h"
#include "runtime/strings.h"

int32_t cursors_held_below = 0;

namespace {

// The command text is at most one image wide.
constexpr int kTextMax = 256;
// Words examined.
constexpr int kWordsExamined = 40;

std::vector<curs*>& pending_deletions() {
    static std::vector<curs*> pending;
    return pending;
}

bool keeps_its_row(const curs* x) {
    return x->cvirtual != 0 || u_strnicmp(x->cur_name, "%CURSOR", 9) == 0;
}

// Queues the deletion of x's rows for the end of the run.
void delete_later(curs* x) {
    if (keeps_its_row(x)) return;
    std::vector<curs*>& p = pending_deletions();
    if (std::find(p.begin(), p.end(), x) == p.end()) p.push_back(x);
}

curs* previous_of(const curs* c) {
    for (curs* x = cur_anchor; x != nullptr; x = x->next)
        if (x->next == c) return x;
    return nullptr;
}

// The first cursor whose name equals word on its first 8 characters, ignoring case.
curs* cursor_by_word(const char* word) {
    char want[9] = {};
    std::strncpy(want, word, 8);
    for (curs* x = cur_anchor; x != nullptr; x = x->next) {
        char have[9] = {};
        std::memcpy(have, x->cur_name, 8);
        if (u_stricmp(have, want) == 0) return x;
    }
    return nullptr;
}

bool traced(const curs* a, const curs* b) { return a->trace != 0 || b->trace != 0; }

struct command {
    curs* c;
    bool hold;
    bool deleting = false;
};

void after_action(const command& k, curs* x) {
    if (!k.deleting) return;
    if (traced(k.c, x))
        PRINT('t', "cde4457", "Deleting all rows for cursor (%s) due to decode in %s\n",
              x->cur_name, k.c->cur_name);
    delete_later(x);
}

void hold_one(const command& k, curs* x, const char* id, const char* format) {
    if (x == nullptr) return;
    if (x->held != 'Y' && traced(k.c, x)) PRINT('t', id, format, x->cur_name, k.c->cur_name);
    hold(x);
    x->held_stat[H_CUR] = 1;
    after_action(k, x);
}

void release_one(const command& k, curs* x, const char* id, const char* format) {
    if (x == nullptr) return;
    x->held_stat[H_CUR] = 0;
    if (x->held_stat[H_GLB] == 0 && x->held_stat[H_VER] == 0 && x->held == 'Y') {
        x->held = 'N';
        if (traced(k.c, x)) PRINT('t', id, format, x->cur_name, k.c->cur_name);
    }
    after_action(k, x);
}

// "below": false when the rest of the command is to be ignored.
bool below(const command& k) {
    if (k.hold) {
        if (cursors_held_below != 0) return false;
        PRINT('a', "cde4455", "Holding cursors below %s due to decode\n", k.c->cur_name);
        for (curs* x = k.c->next; x != nullptr; x = x->next) {
            hold(x);
            x->held_stat[H_GLB] = 1;
            if (k.deleting) delete_later(x);
        }
        cursors_held_below = 1;
        return true;
    }
    if (cursors_held_below == 0) return false;
    PRINT('a', "cde4460", "Releasing cursors below %s due to decode\n", k.c->cur_name);
    for (curs* x = k.c->next; x != nullptr; x = x->next) {
        x->held_stat[H_GLB] = 0;
        if (k.deleting) delete_later(x);
        if (x->held_stat[H_CUR] == 0 && x->held_stat[H_VER] == 0) x->held = 'N';
    }
    cursors_held_below = 0;
    return true;
}

void resetdb(const command& k) {
    if (k.c->trace != 0)
        PRINT('t', "cde4467", "Reconnecting to database because of decode in cursor %s\n",
              k.c->cur_name);
    // The connection stays open: this runs between fetches of the row being built. The
    // collection stops at its next cursor and the restart commits and closes.
    database_info.status = reDoInit;
}

enum keyword { kBelow, kNext, kMe, kPrevious, kResetdb, kDelete, kCursor, kNone };

keyword keyword_of(const char* w) {
    static const char* const names[] = {"below",   "next",   "me",    "previous",
                                        "resetdb", "delete", "cursor"};
    for (int i = 0; i < kNone; ++i)
        if (std::strcmp(w, names[i]) == 0) return static_cast<keyword>(i);
    return kNone;
}

}  // namespace

int special_decode(curs* c, char* text, int len) {
    if (c == nullptr || text == nullptr || len <= 7) return 0;
    char area[kTextMax + 1];
    int n = std::min(len + 1, kTextMax);
    n = static_cast<int>(strnlen(text, static_cast<size_t>(n)));
    std::memcpy(area, text, static_cast<size_t>(n));
    area[n] = '\0';
    u_strlower(area);
    // Room for a word at every character and the closing null.
    std::array<char*, kTextMax + 2> words{};
    int count = u_tokenset(words.data(), area, " ,\"'([{");
    // Separators next to each other leave empty words; they are no words of the command.
    int kept = 0;
    for (int i = 0; i < count; ++i)
        if (words[static_cast<size_t>(i)][0] != '\0')
            words[static_cast<size_t>(kept++)] = words[static_cast<size_t>(i)];
    count = std::min(kept, kWordsExamined);
    if (count < 2) return 0;
    command k{c, std::strcmp(words[0], "hold") == 0};
    if (!k.hold && std::strcmp(words[0], "release") != 0) return 0;

    bool seen[kNone] = {};
    bool names_follow = false;
    for (int i = 1; i < count; ++i) {
        const char* w = words[static_cast<size_t>(i)];
        keyword kw = keyword_of(w);
        if (kw != kNone && seen[kw]) kw = kNone;
        if (names_follow && kw != kBelow && kw != kNext && kw != kDelete) kw = kNone;
        if (kw != kNone) seen[kw] = true;
        if (kw == kNone && names_follow) {
            curs* x = cursor_by_word(w);
            if (k.hold)
                hold_one(k, x, "cde4457", "Holding cursor (%s) due to decode in %s\n");
            else
                release_one(k, x, "cde4464", "Releasing cursors (%s) due to decode in %s\n");
            continue;
        }
        switch (kw) {
            case kBelow:
                if (!below(k)) return 1;
                break;
            case kNext:
                if (k.hold)
                    hold_one(k, c->next, "cde4456",
                             "Holding next cursor (%s) due to decode in %s\n");
                else
                    release_one(k, c->next, "cde4463",
                                "Releasing next cursor (%s) due to decode in %s\n");
                break;
            case kPrevious:
                if (k.hold)
                    hold_one(k, previous_of(c), "cde4459",
                             "Holding previous cursor (%s) due to decode in %s\n");
                else
                    release_one(k, previous_of(c), "cde4465",
                                "Releasing previous cursors (%s) due to decode in %s\n");
                break;
            case kMe:
                if (k.hold) {
                    if (c->held != 'Y' && c->trace != 0)
                        PRINT('t', "cde4458", "Holding this cursor (%s) due to decode\n",
                              c->cur_name);
                    hold(c);
                    c->held_stat[H_CUR] = 1;
                    after_action(k, c);
                    break;
                }
                PRINT('e', "dsd0120", "Unknown release option:%s, cursor %s\n", w, c->cur_name);
                return 1;
            case kResetdb:
                resetdb(k);
                break;
            case kDelete:
                k.deleting = true;
                break;
            case kCursor:
                names_follow = true;
                break;
            case kNone:
                if (!k.hold) {
                    PRINT('e', "dsd0120", "Unknown release option:%s, cursor %s\n", w, c->cur_name);
                    return 1;
                }
                PRINT('e', "dsd0110", "Unknown hold option %d:%s, cursor %s\n", i, w, c->cur_name);
                break;
        }
    }
    return 1;
}

bool decode_deletions_pending() { return !pending_deletions().empty(); }

void decode_run_done() {
    std::vector<curs*>& p = pending_deletions();
    for (curs* x : p) delete_all(x);
    p.clear();
    decode_warnings_report();
}
