// The expression lexer, its reverse Polish conversion and the interpreter, through the
// internal select over a small fixed cursor (SYSMON: GROUPNAME, FLDNAME, FLDVALUE, five
// rows): the input up to its first NUL is the select list, the rest, when there is a NUL,
// the condition. The first byte chooses the target type. The expression store and the
// term table start empty for every input.
#include <cstdint>
#include <string>

#include "expr/internal_select.h"
#include "expr/term_table.h"
#include "fuzz/fuzz_support.h"
#include "testing/cursor_builder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzzing::quiet_log();
    if (size < 1) return 0;
    static const int types[] = {SEL_TARGET_CHAR, SEL_TARGET_INT, SEL_TARGET_FLOAT,
                                SEL_TARGET_INT64};
    const int type = types[data[0] & 3];
    std::string in = fuzzing::text(data + 1, size - 1);
    size_t nul = in.find('\0');
    std::string list = in.substr(0, nul);
    std::string where = nul == std::string::npos ? std::string() : in.substr(nul + 1);

    cursortest::cursor sysmon("SYSMON", cursortest::sysmon_columns());
    sysmon.add({"engine_0", "clock_ticks", "1"});
    sysmon.add({"engine_1", "clock_ticks", "2"});
    sysmon.add({"engine_0", "context_switches", "3"});
    sysmon.add({"access", "xacts", "12abc"});
    sysmon.add({"access", "ncinsert", "12.7"});
    sysmon.point_at_fetch_area();

    reset_internal_select();
    start_exec_sql(nullptr);
    union {
        char* text;
        int32_t i32;
        float f;
        int64_t i64;
    } target{};
    perform_select(list.c_str(), "SYSMON", &target,
                   nul == std::string::npos ? nullptr : where.c_str(), type);
    TERM_TABLE* anchor = nullptr;
    end_exec_sql(&anchor);
    reset_internal_select();
    free_perm_term_tb(anchor);
    fuzzing::traces_off();
    return 0;
}
