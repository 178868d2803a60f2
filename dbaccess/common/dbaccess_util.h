// What both database access programs share besides the request loop: the !D row builder,
// the procedure-text splitter, the reader of size texts and the check of a `use` name.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// Longest row text of a !D record (a record line is at most 3000 characters).
inline constexpr int pcc_row_max = 2997;

// Builds the text of one !D row: each value at the sum of the preceding widths, padded
// with blanks to its width, control characters (NUL, TAB, CR, LF, ...) as blanks.
class pcc_row_builder {
  public:
    void clear() { text_.clear(); }
    // Appends a value of `length` bytes (null: an empty value) in a field of `width`; a
    // longer value is cut to the width.
    void add(const char* value, size_t length, int width);
    size_t width() const { return text_.size(); }
    const std::string& text() const { return text_; }
    // Sends the row as a !D record on standard output. 0 sent; 1 wider than a record (an
    // error is logged, nothing sent); 4 the write failed.
    int send() const;

  private:
    std::string text_;
};

// Copies the text of a value into dst (len bytes), control characters as blanks.
void pcc_blank_controls(char* dst, const char* src, size_t len);

// Splits a procedure text (name, then parameters separated by blanks or tabs) in place:
// *name the first word, params[] the rest (at most max_params). Returns the number of
// parameters; -1 without a name; -2 with more than max_params parameters (nothing is to be
// sent).
int split_procedure_text(char* text, char** name, char** params, int max_params);

// Most parameters of a procedure call.
inline constexpr int procedure_params_max = 20;

// A procedure call of a request: its name and parameters, pointing into its own copy of
// the request's text (so it is never copied).
struct procedure_call {
    procedure_call() = default;
    procedure_call(const procedure_call&) = delete;
    procedure_call& operator=(const procedure_call&) = delete;

    std::string text;
    char* name = nullptr;
    char* params[procedure_params_max] = {};
    int count = 0;
};

// Splits text (null: empty) into call. False after an error message: no_name_id without
// a name, too_many_id with more than procedure_params_max parameters (refused whole: a
// call with its later parameters dropped is another call).
bool read_procedure_call(const char* text, procedure_call& call, const char* no_name_id,
                         const char* too_many_id);

// Kilobytes of a size text: the decimal number before the first blank, times 1024 when
// its unit (the first run of letters after it) begins with "MB". "2.5 MB" is 2560, "512
// KB" 512. A text without a number gives 0.
int64_t size_text_kb(const char* text);

// Checks the name of a `use`: blanks and single quotes are removed from both ends into out
// (cap bytes). 0 nothing to use (no or empty name); 1 a name of identifier characters
// (letters, digits, _ @ # $); -1 anything else (not to be sent).
int use_name_check(const char* name, char* out, size_t cap);

// Why a login failed, gathered from what the library and the server said while it ran, so
// that the failure says it: a server that cannot be reached (the library's 20009, "Unable
// to connect") is not a refused login (the server's message 4002, "Login failed.").
class login_reason {
  public:
    // Forgets an earlier login's words; call before each login.
    void clear() { *this = login_reason{}; }
    // A library message: its number and texts (either may be null). The first is kept.
    void library(long number, const char* text, const char* os_text);
    // A server message: 4002 marks a refused login.
    void server(long number, const char* text);
    bool unreachable() const { return unreachable_; }
    bool refused() const { return refused_; }
    // "server unreachable (...)", "login failed (...)", the library's own text, or "" when
    // nothing was said.
    std::string text() const;

  private:
    bool unreachable_ = false;
    bool refused_ = false;
    std::string library_text_;
    std::string server_text_;
};
