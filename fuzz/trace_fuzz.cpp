// The trace definition file: the input is the file's contents, read over the cursors
// CUR1, CUR2 (with a second version in its ring) and CURSOR_8.
#include <cstdint>
#include <cstring>

#include "defs/trace_file.h"
#include "fuzz/fuzz_support.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "runtime/alloc.h"

namespace {

curs* make(const char* name) {
    curs* c = curs_new();
    std::strcpy(c->cur_name, name);
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::quiet_log();
    fuzzing::traces_off();
    curs* cur1 = make("CUR1");
    curs* cur2 = make("CUR2");
    curs* cur8 = make("CURSOR_8");
    curs* cur2b = make("CUR2");
    cur1->next = cur2;
    cur2->next = cur8;
    cur2->cur_version_list = cur2b;
    cur2b->cur_version_list = cur2;
    cur_anchor = cur1;
    std::string keep;
    FILE* f = fuzzing::stream(fuzzing::text(data, size), &keep);
    if (f != nullptr) {
        parse_trace_file(f);
        std::fclose(f);
    }
    for (curs* c : {cur1, cur2, cur8, cur2b}) U_FREE(c);
    cur_anchor = nullptr;
    fuzzing::traces_off();
    return 0;
}
