#include "acquire/monitor/smon_counter.h"

#include <cstdarg>
#include <cstdio>

#include "expr/internal_select.h"
#include "runtime/exec.h"
#include "runtime/msg.h"

namespace smon {

namespace {
// Every held term, constant-initialized so that terms of any file may join it.
HeldTerm* held_terms = nullptr;
}  // namespace

HeldTerm::HeldTerm() : next_(held_terms) { held_terms = this; }

void HeldTerm::forget_all() {
    for (HeldTerm* h = held_terms; h != nullptr; h = h->next_) h->term_ = nullptr;
}

Lines::~Lines() { u_free_r_chain(head_); }

bool Lines::add(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int n = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (n < 0) {
        va_end(again);
        return false;
    }
    std::string line(static_cast<size_t>(n) + 1, '\0');
    std::vsnprintf(line.data(), line.size(), format, again);
    va_end(again);
    return chain_internal_res(line.c_str(), &head_) == 0;
}

r_exec_chain* Lines::take() {
    r_exec_chain* h = head_;
    head_ = nullptr;
    return h;
}

std::string msg_id(const char* prefix, int number) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "%s%04d", prefix, number);
    return buf;
}

bool counter(const char* prefix, const char* list, const char* where, const char* label, int n_e,
             int n_w, int n_s, int64_t* value) {
    // 64-bit: a SUM over busy engines or caches passes 2^31 and would wrap in 32 bits.
    int64_t v = 0;
    const int rc = perform_select(list, "SYSMON", &v, where, SEL_TARGET_INT64);
    switch (rc) {
        case 0:
            *value = v;
            return true;
        case 1:
            PRINT('e', msg_id(prefix, n_e).c_str(), "Bad return from cursor SYSMON\n");
            return false;
        case 100:
            PRINT('w', msg_id(prefix, n_w).c_str(),
                  "No rows in cursor SYSMON to get a FLDVALUE for %s: assuming 1\n", label);
            *value = 1;
            return true;
        default:
            PRINT('s', msg_id(prefix, n_s).c_str(), "Corrupted: quitting\n");
            return false;
    }
}

bool int_column(const char* prefix, int id, const char* column, const char* cursor, const char* var,
                TERM_TABLE** slot, int64_t* value) {
    int32_t v = 0;
    if (select_column(column, cursor, &v, SEL_TARGET_INT, var, slot) != 0) {
        PRINT('e', msg_id(prefix, id).c_str(), "Can't get column %s.%s\n", cursor, column);
        return false;
    }
    *value = v;
    return true;
}

bool elapsed(const char* prefix, int stop_id, int start_id, TERM_TABLE** stop_slot,
             TERM_TABLE** start_slot, int64_t* value) {
    int64_t stop = 0;
    int64_t start = 0;
    if (!int_column(prefix, stop_id, "STOPTIME", "ZEMV", "stoptime", stop_slot, &stop))
        return false;
    if (!int_column(prefix, start_id, "STARTTIME", "ZEMV", "starttime", start_slot, &start))
        return false;
    // Both are 32-bit on the server; their difference is taken as a 32-bit value.
    int32_t e = static_cast<int32_t>(static_cast<uint32_t>(stop) - static_cast<uint32_t>(start));
    if (e <= 0) e += 86400;
    *value = e;
    return true;
}

bool xacts(const char* prefix, int n_e, int n_w, int n_s, int64_t* value, const char* where) {
    if (!counter(prefix, "FLDVALUE", where, "xacts", n_e, n_w, n_s, value)) return false;
    *value = guard(*value);
    return true;
}

}  // namespace smon
