#include "dbaccess/common/dbaccess_util.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "dbaccess/common/pcc_ops.h"
#include "runtime/msg.h"
#include "runtime/pcc.h"

void pcc_blank_controls(char* dst, const char* src, size_t len) {
    for (size_t i = 0; i < len; ++i) {
        unsigned char c = static_cast<unsigned char>(src[i]);
        dst[i] = (c < 0x20 || c == 0x7f) ? ' ' : static_cast<char>(c);
    }
}

void pcc_row_builder::add(const char* value, size_t length, int width) {
    if (width < 0) width = 0;
    size_t at = text_.size();
    text_.append(static_cast<size_t>(width), ' ');
    if (!value) return;
    size_t n = length < static_cast<size_t>(width) ? length : static_cast<size_t>(width);
    pcc_blank_controls(&text_[at], value, n);
}

int pcc_row_builder::send() const {
    if (text_.size() > static_cast<size_t>(pcc_row_max)) {
        PRINT('e', "sqi2100", "Row of %zu characters is wider than a record (%d); not sent.\n",
              text_.size(), pcc_row_max);
        return 1;
    }
    char rec[pcc_record_size];
    rec[0] = '!';
    rec[1] = 'D';
    rec[2] = ' ';
    std::memcpy(rec + 3, text_.data(), text_.size());
    rec[3 + text_.size()] = '\0';
    return pcc_send_collector(rec, stdout) == 0 ? 0 : 4;
}

int split_procedure_text(char* text, char** name, char** params, int max_params) {
    *name = nullptr;
    int n = 0;
    char* p = text;
    auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (*p) {
        while (blank(*p)) ++p;
        if (!*p) break;
        char* word = p;
        while (*p && !blank(*p)) ++p;
        if (*p) *p++ = '\0';
        if (!*name) {
            *name = word;
        } else if (n >= max_params) {
            return -2;
        } else {
            params[n++] = word;
        }
    }
    return *name ? n : -1;
}

bool read_procedure_call(const char* text, procedure_call& call, const char* no_name_id,
                         const char* too_many_id) {
    call.text = text ? text : "";
    call.count =
        split_procedure_text(call.text.data(), &call.name, call.params, procedure_params_max);
    if (call.count == -2) {
        PRINT('e', too_many_id, "Stored procedure: more than max number of parameters allowed\n");
        return false;
    }
    if (call.count < 0) {
        PRINT('e', no_name_id, "Stored procedure: no procedure name given\n");
        return false;
    }
    return true;
}

int64_t size_text_kb(const char* text) {
    if (!text) return 0;
    while (*text == ' ') ++text;
    char* end = nullptr;
    // Fractions kept: "2.5 MB" read as 2 would report 2048 kilobytes for 2560.
    double v = std::strtod(text, &end);
    if (end == text) return 0;
    const char* u = end;
    while (*u && !std::isalpha(static_cast<unsigned char>(*u))) ++u;
    if ((u[0] == 'M' || u[0] == 'm') && (u[1] == 'B' || u[1] == 'b')) v *= 1024.0;
    return static_cast<int64_t>(v);
}

int use_name_check(const char* name, char* out, size_t cap) {
    if (cap) out[0] = '\0';
    if (!name) return 0;
    auto strip = [](char c) { return c == ' ' || c == '\''; };
    const char* b = name;
    while (*b && strip(*b)) ++b;
    const char* e = b + std::strlen(b);
    while (e > b && strip(e[-1])) --e;
    size_t len = static_cast<size_t>(e - b);
    if (len == 0) return 0;
    if (len >= cap) return -1;
    for (const char* p = b; p < e; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (!std::isalnum(c) && c != '_' && c != '@' && c != '#' && c != '$') return -1;
    }
    std::memcpy(out, b, len);
    out[len] = '\0';
    return 1;
}
namespace {
// The library's number for a server it cannot connect to; the server's for a refused login.
constexpr long kCannotConnect = 20009;
constexpr long kLoginFailed = 4002;
}  // namespace

void login_reason::library(long number, const char* text, const char* os_text) {
    if (number == kCannotConnect) unreachable_ = true;
    if (!library_text_.empty()) return;
    library_text_ = text ? text : "";
    if (os_text && *os_text)
        library_text_ += std::string(library_text_.empty() ? "" : ": ") + os_text;
}

void login_reason::server(long number, const char* text) {
    if (number != kLoginFailed || refused_) return;
    refused_ = true;
    server_text_ = text ? text : "";
}

std::string login_reason::text() const {
    auto with = [](const char* what, const std::string& detail) {
        return detail.empty() ? std::string(what) : std::string(what) + " (" + detail + ")";
    };
    if (unreachable_) return with("server unreachable", library_text_);
    if (refused_) return with("login failed", server_text_);
    return library_text_;
}

int u_append(char* buffer, int ch, int n) {
    if (!buffer || n <= 0) return 0;
    std::memset(buffer, ch, static_cast<size_t>(n));
    buffer[n] = '\0';
    return n;
}
