// Binary rows of clusters.
#include "collector/rows/row_format.h"

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "collector/rows/small_copy.h"
#include "model/cursor.h"
#include "runtime/dates.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

constexpr int max_row_size = 32767;

// Width of a text or time-stamp column in the binary row.
int send_width(const columns* col) { return col->caret_ll != 0 ? col->caret_ll : col->len; }

// The value of a numeric column as a NUL-terminated text without its leading blanks, cut
// to 256 characters, in buf (257 bytes).
const char* numeric_text(const char* value, int len, char* buf) {
    if (len < 0) return "-1";
    while (len > 0 && *value == ' ') ++value, --len;
    if (len > 256) len = 256;
    std::memcpy(buf, value, static_cast<size_t>(len));
    buf[len] = '\0';
    return buf;
}

int32_t to_int32(const char* text) {
    errno = 0;
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (end == text) return 0;
    if (v > INT32_MAX) return INT32_MAX;
    if (v < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(v);
}

double to_double(const char* text) {
    char* end = nullptr;
    double v = std::strtod(text, &end);
    return end == text ? 0.0 : v;
}

void trace_row(curs* c, const char* src) {
    PRINT('t', "dmk3725", "Formatted row data for %s\n", c->cur_name);
    int n = 0;
    for (const columns* col = c->insert_columns; col != nullptr; col = col->next) {
        const char* kind;
        int width;
        switch (col->convert) {
            case CONV_INT:
                kind = "Converted to integer", width = 4;
                break;
            case CONV_FLOAT:
                kind = "Converted to float", width = 8;
                break;
            case CONV_NOSEND:
                kind = "Will not be sent", width = 0;
                break;
            case CONV_TS:
                kind = "Converted TIMESTAMP", width = send_width(col);
                break;
            default:
                kind = "UnConverted text", width = send_width(col);
                break;
        }
        bool shown = col->len >= 0 && col->len <= 255;
        PRINT('t', "dmk3730", "#%d = %s(%d,%d) %s : %.*s\n", ++n, col->col_name, col->row_offset,
              width, kind, shown ? static_cast<int>(col->len) : 9,
              shown ? src + col->offset : "?????????");
    }
    c->show_row = 0;
}

void put_text(char* out, const columns* col, const char* value) {
    size_t len = col->len > 0 ? static_cast<size_t>(col->len) : 0;
    if (col->caret_ll == 0) {
        copy_value(out, value, len);
        return;
    }
    size_t s = static_cast<size_t>(col->caret_ll);
    bool right = col->orig_type == 2 && len > 0 && value[0] == ' ';
    if (s >= len) {
        std::memset(out, ' ', s);
        std::memcpy(right ? out + (s - len) : out, value, len);
    } else {
        std::memcpy(out, right ? value + (len - s) : value, s);
    }
}

}  // namespace

int slk_bytes(int n, int align) {
    if (align <= 0) return 0;
    int rest = n % align;
    return rest == 0 ? 0 : align - rest;
}

int get_row_size(curs* c) {
    int32_t size = 0;
    for (columns* col = c->insert_columns; col != nullptr; col = col->next) {
        int32_t at = size;
        switch (col->convert) {
            case CONV_INT:
                at = size + slk_bytes(size, 4);
                size = at + 4;
                col->caret_ll = 0;
                break;
            case CONV_FLOAT:
                at = size + slk_bytes(size, 8);
                size = at + 8;
                col->caret_ll = 0;
                break;
            case CONV_NOSEND:
                at = 0;
                col->caret_ll = 0;
                break;
            default:
                size += send_width(col) > 0 ? send_width(col) : 0;
                break;
        }
        if (size > max_row_size) {
            PRINT('e', "dmk3740", "Row of cursor %s passes %d bytes at column %s\n", c->cur_name,
                  max_row_size, col->col_name);
            return -1;
        }
        col->row_offset = static_cast<int16_t>(at);
    }
    return size;
}

int make_row(curs* c, char* dst, const char* src) {
    if (c->show_row != 0) trace_row(c, src);
    char buf[257];
    for (const columns* col = c->insert_columns; col != nullptr; col = col->next) {
        const char* value = src + col->offset;
        char* out = dst + col->row_offset;
        switch (col->convert) {
            case CONV_NOSEND:
                break;
            case CONV_INT: {
                int32_t v = to_int32(numeric_text(value, col->len, buf));
                std::memcpy(out, &v, sizeof v);
                break;
            }
            case CONV_FLOAT: {
                double v = to_double(numeric_text(value, col->len, buf));
                std::memcpy(out, &v, sizeof v);
                break;
            }
            case CONV_TS: {
                char ts[17];
                std::memset(ts, '0', sizeof ts);
                if (col->len > 0) us_normalizeDateTime(value, col->len, ts);
                int width = send_width(col);
                if (width > 16) width = 16;
                if (width > 0) std::memcpy(out, ts, static_cast<size_t>(width));
                if (u_trace_on(8))
                    PRINT('t', "dmk3735", "TS! Timestamp = %.*s , converted to = %.*s\n",
                          static_cast<int>(col->len > 0 ? col->len : 0), value, 16, ts);
                break;
            }
            default:
                put_text(out, col, value);
                break;
        }
    }
    return 0;
}
