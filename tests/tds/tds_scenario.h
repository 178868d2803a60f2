// Scenario files of the test server: which statements it knows and how it answers them.
//
// The format is described in tests/tds/README.md. A scenario is plain data: the server
// holds it shared and immutable, taking a reference for every request, so tests may
// replace it between requests and a large one is never copied.
#pragma once

#include <cstdint>
#include <mutex>
#include <regex>
#include <string>
#include <vector>

#include "tests/tds/tds_wire.h"

namespace zovtds {

// A piece of a row value: plain text, or a form that changes from one row or answer to the
// next (tests/tds/README.md lists them).
struct ValuePart {
    enum Kind {
        Text,    // `text` as it is
        Copy,    // {i}: the number of the copy of a repeated row, from 0
        Answer,  // {n}, {A+Bn}: a + b * (this entry's answer number, from 1)
        Rand,    // {rand A B}: a number from a to b, from the scenario's seeded generator
        Tod,     // {tod}, {tod-S}: seconds of the day now, less a, wrapped into 0..86399
    } kind = Text;
    std::string text;
    int64_t a = 0, b = 0;
};

// One value as written in the scenario: text, or NULL. A text with forms in it is also
// kept as parts (empty when the text is sent as it is).
struct Value {
    bool is_null = false;
    std::string text;
    std::vector<ValuePart> parts;
};

// A pause or a cut inside a result set, before one of its row lines (no DONE first).
struct RowBreak {
    size_t before_row = 0;  // index into Step::rows
    bool drop = false;      // close the connection; else wait delay_ms
    int delay_ms = 0;
};

// One step of an answer, in the order the scenario gives them.
struct Step {
    enum Kind { Result, Message, Delay, Drop } kind = Result;
    // Result: columns and row lines; a row line is sent repeat[i] times, "{i}" in its
    // values then standing for the number of the copy from 0.
    std::vector<ColumnFormat> columns;
    std::vector<std::vector<Value>> rows;
    std::vector<int64_t> repeat;
    std::vector<RowBreak> breaks;
    // Message: an EED.
    int32_t number = 0;
    int severity = 0;
    int state = 1;
    std::string text;
    // Delay: milliseconds.
    int delay_ms = 0;
};

// An output parameter returned after the return status.
struct OutParam {
    ColumnFormat format;
    Value value;
};

// The whole answer to one request.
struct Answer {
    std::vector<Step> steps;
    bool has_status = false;
    int32_t status = 0;  // RETURNSTATUS
    std::vector<OutParam> out_params;
    bool fail = false;  // ERROR bit on the final DONE
};

// A request the scenario knows.
struct Entry {
    enum Kind { Batch, Match, Rpc } kind = Batch;
    std::string text;         // Batch: normalised text; Match: the pattern; Rpc: name
    std::regex pattern;       // Match only
    bool check_args = false;  // Rpc: args given
    std::vector<std::pair<std::string, std::string>> args;  // Rpc: (name or "", value text)
    Answer answer;
    int line = 0;      // line of the scenario file
    size_t index = 0;  // place in Scenario::entries (for its answer count)
};

struct Scenario {
    std::string server_name = "ZOVTDS";
    bool refuse_all = false;
    std::vector<std::string> refuse_users;
    int login_delay_ms = 0;
    bool login_drop = false;
    uint64_t seed = 1;  // `seed S`: start of the {rand} sequence
    std::vector<Entry> entries;
};

// What the value forms draw on while a server runs one scenario: each entry's answer count
// and the {rand} generator. Shared by the connections, so it locks.
class ValueState {
  public:
    explicit ValueState(uint64_t seed) : rng_(seed) {}
    // Counts an answer of the entry and returns its number, from 1.
    int64_t begin_answer(const Entry& e);
    // The next number of the sequence, from lo to hi.
    int64_t rand(int64_t lo, int64_t hi);

  private:
    std::mutex mu_;
    std::vector<int64_t> answers_;
    uint64_t rng_;
};

// Everything a row value may depend on in one answer.
struct ValueContext {
    int64_t i = 0;  // copy of a repeated row
    int64_t n = 1;  // the entry's answer number
    int64_t tod = 0;
    ValueState* state = nullptr;  // null: {rand A B} gives A
};

// Seconds since local midnight.
int64_t seconds_of_day_now();

// The text of a value in its context (the text itself when it has no forms).
std::string expand_value(const Value& v, const ValueContext& ctx);

// The value of copy i of a repeated row line: "{i}" replaced by i.
std::string expand_row_value(const std::string& text, int64_t i);

// Collapses white space runs to one blank and trims both ends.
std::string normalise_sql(const std::string& text);

// Parses scenario text. False with `error` ("line N: ...") on the first fault.
bool parse_scenario(const std::string& text, Scenario& out, std::string& error);
// Reads and parses a scenario file.
bool load_scenario(const std::string& path, Scenario& out, std::string& error);

// A parameter of a received RPC, rendered as text.
struct RpcParam {
    std::string name;
    std::string value;
    bool is_null = false;
    bool output = false;
};

// The first entry that matches a language batch (normalised text) or null.
const Entry* find_batch(const Scenario& s, const std::string& normalised);
// The first entry that matches an RPC by name (case-insensitive) and its listed arguments.
const Entry* find_rpc(const Scenario& s, const std::string& name,
                      const std::vector<RpcParam>& params);

}  // namespace zovtds
