// What the monitor procedures share: the sample length from ZEMV, counters read from SYSMON
// with their three messages, zero guards, single-precision rates and the TAB-framed lines
// chained for the calling cursor.
#pragma once

#include <cstdint>
#include <string>

#include "expr/term_table.h"

struct r_exec_chain;

namespace smon {

// The transactions condition most procedures share (the task procedure writes "AND").
inline constexpr const char* kXactsWhere = "GROUPNAME = \"access\" and FLDNAME = \"xacts\" ";

// One procedure call's output: lines chained in order, released unless taken.
class Lines {
  public:
    explicit Lines(const char* prefix) : prefix_(prefix) {}
    ~Lines();
    Lines(const Lines&) = delete;
    Lines& operator=(const Lines&) = delete;

    const char* prefix() const { return prefix_; }
    // Formats one line (measured first, so no value is cut) and appends it. False when the
    // line could not be chained (its message is written).
    bool add(const char* format, ...) __attribute__((format(printf, 2, 3)));
    // Hands the chain to the caller (null when no line was built).
    r_exec_chain* take();

  private:
    const char* prefix_;
    r_exec_chain* head_ = nullptr;
};

// A work-variable term that select_column keeps between calls of a procedure. Held terms
// live in the driver's term table, so they are valid only while that table is: the driver
// forgets all of them at once when it starts on a table they were not taken from.
class HeldTerm {
  public:
    HeldTerm();
    HeldTerm(const HeldTerm&) = delete;
    HeldTerm& operator=(const HeldTerm&) = delete;

    TERM_TABLE** slot() { return &term_; }
    // Every held term back to null.
    static void forget_all();

  private:
    TERM_TABLE* term_ = nullptr;
    HeldTerm* next_;
};

// The message id of a procedure: its prefix and four digits.
std::string msg_id(const char* prefix, int number);

// Reads a counter: `list` over SYSMON where `where` into *value. No matching row: the W
// message naming `label`, value 1. False after the E or S message (the caller returns null).
// The three ids are n_e, n_w, n_s.
bool counter(const char* prefix, const char* list, const char* where, const char* label, int n_e,
             int n_w, int n_s, int64_t* value);
// As counter with the ids n, n + 10, n + 20.
inline bool counter(const char* prefix, const char* list, const char* where, const char* label,
                    int n, int64_t* value) {
    return counter(prefix, list, where, label, n, n + 10, n + 20, value);
}

// The sample length: ZEMV's STOPTIME - STARTTIME, 86400 added once when it is not positive.
// False after the column's E message (ids stop_id, start_id).
bool elapsed(const char* prefix, int stop_id, int start_id, TERM_TABLE** stop_slot,
             TERM_TABLE** start_slot, int64_t* value);

// The transactions counter (label xacts) with its guard: 1 when 0.
bool xacts(const char* prefix, int n_e, int n_w, int n_s, int64_t* value,
           const char* where = kXactsWhere);

// An integer value read through select_column into *value. False after the E message.
bool int_column(const char* prefix, int id, const char* column, const char* cursor, const char* var,
                TERM_TABLE** slot, int64_t* value);

// 1 when 0.
inline int64_t guard(int64_t v) { return v == 0 ? 1 : v; }
// Ratios in single precision, widened for printing.
inline double ratio(int64_t v, int64_t d) {
    return static_cast<double>(static_cast<float>(v) / static_cast<float>(d));
}
inline double percent(int64_t v, int64_t d) {
    return static_cast<double>(static_cast<float>(v) * 100.0f / static_cast<float>(d));
}
inline long long ll(int64_t v) { return static_cast<long long>(v); }

}  // namespace smon
