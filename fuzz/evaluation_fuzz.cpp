// The evaluation definition file: the input is the file's contents, read over the cursors
// SYSMON and LOCKS; the evaluations it hangs on them are freed after each input.
#include <cstdint>
#include <cstring>

#include "defs/evaluation.h"
#include "defs/evaluation_file.h"
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

void release(curs* c) {
    for (evaluation* e = c->evaluation; e != nullptr;) {
        evaluation* next = e->next;
        U_FREE(e->string);
        U_FREE(e);
        e = next;
    }
    U_FREE(c);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::quiet_log();
    curs* sysmon = make("SYSMON");
    curs* locks = make("LOCKS");
    sysmon->next = locks;
    cur_anchor = sysmon;
    std::string keep;
    FILE* f = fuzzing::stream(fuzzing::text(data, size), &keep);
    if (f != nullptr) {
        parse_eval_file(f);
        std::fclose(f);
    }
    release(sysmon);
    release(locks);
    cur_anchor = nullptr;
    fuzzing::traces_off();
    return 0;
}
