// The readers of a fetch exit's output, formats 1 to 5: the first byte chooses the format
// (and whether message lines may be marked as data), the second the lines to skip and the
// rows to take; the rest are the lines the exit printed. They are parsed into the
// cursor's result set and merged into its rows, as after a run, over a cursor of a short
// and a long character column and a numeric one.
#include <cstdint>
#include <string>

#include "acquire/fetch_exit.h"
#include "fuzz/fuzz_support.h"
#include "runtime/exec.h"
#include "testing/exit_cursor.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::quiet_log();
    if (size < 2) return 0;
    const int format = data[0] % 5 + 1;
    exit_test::ExitCursor x("FX", {{"A", 6, 1}, {"N", 8, 2}, {"B", 20, 1}}, format, 0, "true");
    curs* c = x.get();
    c->start_after = static_cast<int16_t>(data[1] & 3);
    c->stop_after = static_cast<int16_t>((data[1] >> 2) & 7);
    c->limit = 5;
    std::string in = fuzzing::text(data + 2, size - 2);
    r_exec_chain* head = nullptr;
    r_exec_chain** tail = &head;
    size_t at = 0;
    while (at < in.size()) {
        size_t nl = in.find('\n', at);
        if (nl == std::string::npos) nl = in.size();
        *tail = u_new_r_chain(in.data() + at, static_cast<int32_t>(nl - at));
        tail = &(*tail)->next;
        at = nl + 1;
    }
    static fetchExitGlobal g;
    g = fetchExitGlobal{};
    setCurs4exit(&g, c, "20260101000000", c->fetch_exit);
    g.results = head;
    if (parseCmdResults(&g) > 0) merge_DB_DATA2curs(&g, c);
    fuzzing::traces_off();
    return 0;
}
