// Printing the result store as text lines, one line per row, in one of four layouts: to
// standard output (1-4) or into the message log (11-14).
#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "dbaccess/zem2sql/zem2util.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

struct layout_form {
    int flags;
    char separator;
};

bool layout_of(int layout, layout_form* out) {
    switch (layout % 10) {
        case 1:
            *out = {fc_pad | fc_int_left | fc_quote, ' '};
            break;
        case 2:
            *out = {fc_pad | fc_int_left, ' '};
            break;
        case 3:
            *out = {fc_quote | fc_trim, ' '};
            break;
        case 4:
            *out = {fc_int_left | fc_trim, '\t'};
            break;
        default:
            return false;
    }
    return layout == layout % 10 || layout / 10 == 1;
}

}  // namespace

int formatColumn(int width, char* out, int length, char* value, int kind, char separator,
                 int flags) {
    if (width < 0) width = 0;
    int len = 0;
    if (value) {
        len = static_cast<int>(strnlen(value, length > 0 ? static_cast<size_t>(length) : 0));
    }
    char hex[2 * 64 + 1];
    if (kind == 3 && value) {
        // Hexadecimal of the bytes (at most 64).
        int n = length < 64 ? length : 64;
        for (int i = 0; i < n; ++i)
            std::snprintf(hex + 2 * i, 3, "%02X", static_cast<unsigned char>(value[i]));
        value = hex;
        len = 2 * (n > 0 ? n : 0);
    }
    bool right = flags & fc_right;
    if (kind == 2 && !(flags & fc_int_left)) right = true;
    int pos = 0;
    if (right) std::memset(out, ' ', static_cast<size_t>(width));
    if ((flags & fc_trim) && value) {
        while (len > 0 && std::isspace(static_cast<unsigned char>(value[len - 1]))) --len;
        if (kind == 1) value[len] = '\0';
    }
    static char blank[] = " ";
    const bool empty = !value || len == 0;
    if (empty) {
        value = blank;
        len = 1;
    }
    char quote = 0;
    if ((flags & fc_quote) && !empty && kind == 1 && value[0] != '"' &&
        std::memchr(value, ' ', static_cast<size_t>(len))) {
        if (!std::memchr(value, '"', static_cast<size_t>(len)))
            quote = '"';
        else if (!std::memchr(value, '\'', static_cast<size_t>(len)))
            quote = '\'';
        else
            quote = 5;
    }
    if (quote) {
        int n = len;
        if (n > width - 2) n = width - 2 > 0 ? width - 2 : 0;
        if (right && width >= 2) {
            // The text ends just before the last position; the closing quote takes it.
            int start = width - 1 - n;
            out[start - 1] = quote;
            std::memcpy(out + start, value, static_cast<size_t>(n));
            out[width - 1] = quote;
            pos = width;
        } else {
            out[0] = quote;
            std::memcpy(out + 1, value, static_cast<size_t>(n));
            out[n + 1] = quote;
            pos = n + 2;
        }
    } else {
        int n = len < width ? len : width;
        if (right) {
            std::memcpy(out + width - n, value, static_cast<size_t>(n));
            pos = width;
        } else {
            std::memcpy(out, value, static_cast<size_t>(n));
            pos = n;
        }
    }
    if (flags & fc_pad)
        while (pos < width) out[pos++] = ' ';
    if (separator) out[pos++] = separator;
    if (!(flags & fc_no_nul)) out[pos] = '\0';
    return pos;
}

int formatDBresults(_anchor_db* a, int layout) {
    if (u_trace_on(1)) PRINT('t', "sdu1005", "Format result type: %d\n", layout);
    layout_form form{};
    if (!layout_of(layout, &form)) {
        PRINT('e', "sdu1010", "formatDBresults() Invalid format type %d\n", layout);
        return 1;
    }
    const bool to_log = layout > 10;
    if (!a) return 0;
    std::vector<char> field;
    for (db_data* s = a->current_set; s; s = s->next_set) {
        for (int r = 0; r < s->num_rows; ++r) {
            row_data* row = s->rows[r];
            if (to_log) PRINT('t', "sdu1015", "row (%d) ", r + 1);
            for (int c = 0; c < s->num_columns; ++c) {
                const column_data& col = s->columns[c];
                // Quoting layouts give every field room for its quotes: a date-time text
                // fills its width and would lose its end otherwise.
                int width = col.width + ((form.flags & fc_quote) ? 2 : 0);
                int flags = form.flags | (col.kind == 2 ? fc_right : 0);
                field.assign(static_cast<size_t>(width) + 8, '\0');
                row_column& e = row->columns[c];
                char* value = e.value;
                int length = e.length;
                if (col.kind == 2 && value) {
                    // A converted text is stored right-aligned: the layout aligns it again.
                    while (length > 0 && *value == ' ') {
                        ++value;
                        --length;
                    }
                }
                formatColumn(width, field.data(), length, value, 1, form.separator, flags);
                if (to_log)
                    PRINT('-', "", "%s", field.data());
                else
                    std::fputs(field.data(), stdout);
            }
            if (to_log) {
                PRINT('-', "", "\n");
            } else {
                std::fputs("\n", stdout);
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
