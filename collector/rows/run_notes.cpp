#include "collector/rows/run_notes.h"

#include <cstdint>
#include <vector>

#include "model/cursor.h"
#include "runtime/msg.h"

namespace {

struct site_note {
    const void* site;
    const char* id;
    const curs* cursor;
    int32_t sampleno;  // the run the note was written for
    int32_t rowno;     // the last row counted in it
    int32_t more;      // rows of that run not written
};

std::vector<site_note>& notes() {
    static std::vector<site_note> all;
    return all;
}

}  // namespace

bool run_note_first(const void* site, const char* id, const char* count_id, const curs* c) {
    std::vector<site_note>& all = notes();
    site_note* n = nullptr;
    for (site_note& s : all) {
        if (s.site == site && s.id == id && s.cursor == c) {
            n = &s;
            break;
        }
    }
    if (n == nullptr) {
        all.push_back(site_note{site, id, c, c->sampleno, c->rowno, 0});
        return true;
    }
    // A run is one sample; a row number that went back also starts a new one.
    const bool new_run = n->sampleno != c->sampleno || c->rowno < n->rowno;
    if (!new_run) {
        n->rowno = c->rowno;
        ++n->more;
        return false;
    }
    if (n->more > 0)
        PRINT('w', count_id, "%d more rows of cursor %s gave %s\n", n->more, c->cur_name, id);
    n->sampleno = c->sampleno;
    n->rowno = c->rowno;
    n->more = 0;
    return true;
}

void run_notes_reset() { notes().clear(); }
