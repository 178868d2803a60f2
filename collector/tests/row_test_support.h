// Test aids for the row store and the cursor runs: cursor-file blocks of given host
// variables (read by the shared builder's parser door), and fetch descriptors holding given
// names and values.
#pragma once

#include <cstring>
#include <string>
#include <vector>

#include "collector/rows/percent_cursor.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "model/engine_globals.h"
#include "model/row_data.h"
#include "testing/cursor_builder.h"
#include "testing/cursor_test_support.h"

namespace rowtest {

// Parses the blocks as a cursor file (on a fresh list, "end;" added); the cursor named name.
using curstest::parse_one;

// A cursor block with an INSERT of the given host variables ("A, 2!, %rowno").
inline std::string block(const std::string& name, const std::string& vars,
                         const std::string& extra = "") {
    std::string cols;
    std::string list = vars;
    size_t n = 1;
    for (char ch : list)
        if (ch == ',') ++n;
    for (size_t i = 0; i < n; ++i) cols += (i ? ", C" : "C") + std::to_string(i);
    std::string values;
    size_t start = 0;
    while (start <= list.size()) {
        size_t end = list.find(',', start);
        if (end == std::string::npos) end = list.size();
        std::string v = list.substr(start, end - start);
        while (!v.empty() && v.front() == ' ') v.erase(0, 1);
        values += (values.empty() ? ":" : ", :") + v;
        start = end + 1;
    }
    return "cursor " + name + ";\n" + extra + "INSERT INTO T1 (" + cols + ") VALUES (" + values +
           ");\n";
}

// A fetch descriptor of named values (each its own width, indicator 0 unless set).
class Desc {
  public:
    struct entry {
        std::string name;
        std::string value;
        int16_t indicator = 0;
    };
    explicit Desc(std::vector<entry> entries) : e_(std::move(entries)) {
        int n = static_cast<int>(e_.size());
        d_ = zovldal(n > 0 ? n : 1, 30, 30);
        d_->F = n;
        types.assign(e_.size() + 1, 1);
        for (int i = 0; i < n; ++i) {
            d_->V[i] = e_[i].value.data();
            d_->L[i] = static_cast<int32_t>(e_[i].value.size());
            d_->S[i] = e_[i].name.data();
            d_->C[i] = static_cast<int16_t>(e_[i].name.size());
            d_->I[i] = &e_[i].indicator;
        }
    }
    ~Desc() { zovldau(&d_); }
    Desc(const Desc&) = delete;
    Desc& operator=(const Desc&) = delete;
    xSQLDA* get() { return d_; }
    entry& operator[](size_t i) { return e_[i]; }
    // Replaces value i's bytes (same width).
    void set(size_t i, const std::string& v) {
        std::memcpy(e_[i].value.data(), v.data(), v.size());
    }
    std::vector<int32_t> types;

  private:
    std::vector<entry> e_;
    xSQLDA* d_ = nullptr;
};

// The text of row r of c: its length bytes.
inline std::string row_text(const curs* c, const row_data* r) {
    return cursortest::stored_text(c, r);
}
// The value of column col in row r.
using cursortest::value;
// The column numbered n (1 the first).
inline columns* column(curs* c, int n) { return cursortest::column_at(c, n - 1); }
using cursortest::row_samples;

}  // namespace rowtest
