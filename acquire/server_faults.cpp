// The pass gate and the back-off after refused logins.
#include "acquire/server_faults.h"

#include <cstring>

#include "acquire/ctlib/zemctutl.h"
#include "defs/distrib.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/timebase.h"
#include "runtime/msg.h"
#include "runtime/strings.h"

namespace {

bool in_pass = false;
bool closed = false;
zem_fault_kind closed_by = zem_fault_none;
int64_t closed_at = 0;  // relative seconds
bool reconnected = false;
int skipped = 0;
bool told = false;     // the skip outside a pass was told for this closure
int refusals = 0;      // refused logins in a row
int backoff_left = 0;  // passes still to skip before the next login attempt

int32_t pass_seconds() {
    return collector_at != nullptr && collector_at->interval > 0 ? collector_at->interval : 1;
}

const char* server_name() {
    static char name[sizeof(distrib::server_id) + 1];
    name[0] = '\0';
    if (collector_at != nullptr)
        u_chr2str(name, collector_at->server_id,
                  static_cast<int>(strnlen(collector_at->server_id, sizeof name - 1)));
    return name;
}

void close_gate(zem_fault_kind why) {
    if (closed) return;
    closed = true;
    closed_by = why;
    closed_at = now_relative_sec();
    told = false;
}

const char* reason_text(zem_fault_kind why) {
    switch (why) {
        case zem_fault_timeout:
            return "time-out";
        case zem_fault_refused:
            return "refused login";
        case zem_fault_unreachable:
            return "server unreachable";
        case zem_fault_dropped:
            return "connection lost twice";
        default:
            return "connection failed";
    }
}

}  // namespace

void server_pass_begin() {
    in_pass = true;
    closed = false;
    closed_by = zem_fault_none;
    reconnected = false;
    skipped = 0;
    if (backoff_left > 0) {
        --backoff_left;
        close_gate(zem_fault_refused);
    }
}

// The skip messages are errors: the skipped cursors have no data for this pass.
void server_pass_end() {
    if (in_pass && skipped > 0) {
        if (closed_by == zem_fault_refused && refusals >= server_refusals_before_backoff)
            PRINT('e', "ycd0141",
                  "Server %s: login refused %d times in a row; %d SQL cursors skipped in this "
                  "pass, next login attempt in %d passes (%d seconds)\n",
                  server_name(), refusals, skipped, backoff_left + 1,
                  (backoff_left + 1) * pass_seconds());
        else
            PRINT('e', "ycd0140",
                  "Server %s: %s; %d SQL cursors skipped in this pass, the next pass tries "
                  "again\n",
                  server_name(), reason_text(closed_by), skipped);
    }
    in_pass = false;
}

bool server_may_run(const curs* c) {
    if (closed && !in_pass && backoff_left == 0 && now_relative_sec() - closed_at >= pass_seconds())
        closed = false;  // no pass came for a whole interval: a demand run may try again
    if (!closed) return true;
    ++skipped;
    if (!in_pass && !told) {
        told = true;
        PRINT('e', "ycd0142", "Cursor %s not run: server %s, %s; the next pass tries again\n",
              c != nullptr ? c->cur_name : "", server_name(), reason_text(closed_by));
    }
    return false;
}

int server_skipped() { return skipped; }

void server_connect_failed(zem_fault_kind why) {
    close_gate(why);
    if (why != zem_fault_refused) return;
    ++refusals;
    if (refusals < server_refusals_before_backoff) return;
    // Each further attempt that is refused waits as long again.
    backoff_left = server_backoff_passes - 1;
    PRINT('e', "ycd0145",
          "Login to server %s refused %d times in a row: one attempt every %d passes (%d "
          "seconds) from now on\n",
          server_name(), refusals, server_backoff_passes, server_backoff_passes * pass_seconds());
}

void server_connect_succeeded() {
    refusals = 0;
    backoff_left = 0;
}

void server_connection_lost(zem_fault_kind why) {
    if (why == zem_fault_timeout || reconnected) {
        close_gate(why == zem_fault_timeout ? zem_fault_timeout : zem_fault_dropped);
        return;
    }
    reconnected = true;
}

void server_faults_reset() {
    in_pass = false;
    closed = false;
    closed_by = zem_fault_none;
    closed_at = 0;
    reconnected = false;
    skipped = 0;
    told = false;
    refusals = 0;
    backoff_left = 0;
}
