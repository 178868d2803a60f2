// Monitor procedures whose counters are not computed by this collector build: each logs its
// cursor and gives no row, so the calling cursor's run fails visibly.
#include "acquire/monitor/smon_driver.h"
#include "runtime/msg.h"

namespace {

r_exec_chain* not_built(const char* id, const char* cursor) {
    PRINT('e', id, "Cursor %s is not computed by this collector\n", cursor);
    return nullptr;
}

}  // namespace

r_exec_chain* devd_proc() { return not_built("DEVD0001", "ZEMSDEVD"); }
r_exec_chain* engd_proc() { return not_built("ENGD0001", "ZEMENGD"); }
r_exec_chain* tskd_proc() { return not_built("TSKD0001", "ZEMTSKD"); }
