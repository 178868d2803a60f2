// Result-set anchors, their rows and the value converters.
#include "acquire/result_sets.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"
#include "runtime/trace.h"

namespace {

template <class T>
T* zalloc(size_t n) {
    void* p = U_MALLOC(n);
    std::memset(p, 0, n);
    return static_cast<T*>(p);
}

_anchorDBdata* family_top(_anchorDBdata* d) { return d->top != nullptr ? d->top : d; }

// Siblings of a family in order: the top, then the members linked on its sibling anchor.
_anchorDBdata* sibling_after(_anchorDBdata* d) {
    _anchorDBdata* top = family_top(d);
    if (d == top) return static_cast<_anchorDBdata*>(g_getFirst(&top->sibling_link));
    return static_cast<_anchorDBdata*>(g_getNext(&d->sibling_link));
}

_anchorDBdata* sibling_before(_anchorDBdata* d) {
    _anchorDBdata* top = family_top(d);
    if (d == top) return nullptr;
    auto* p = static_cast<_anchorDBdata*>(g_getPrior(&d->sibling_link));
    return p != nullptr ? p : top;
}

void free_rows(_anchorDBdata* d) {
    while (ROW_DATA_freeFirst_getNext(d) != nullptr) {
    }
    d->rows_held = 0;
    d->counter = 0;
    d->has_rows = 0;
}

void free_columns(_anchorDBdata* d) {
    U_FREE(d->Acoldata);
    d->Acoldata = nullptr;
    d->ncols = 0;
}

// Unlinks d from its anchor and its family and frees it with rows and columns.
void free_result_set(_anchorDBdata* d) {
    free_rows(d);
    free_columns(d);
    if (d->owner != nullptr) g_dlink(&d->owner->result_sets, &d->anchor_link, 'x');
    if (d->owner != nullptr && d->owner->current == d) d->owner->current = nullptr;
    _anchorDBdata* top = family_top(d);
    if (d != top) g_dlink(&top->sibling_link, &d->sibling_link, 'x');
    U_FREE(d);
}

// A binary number of len bytes (2, 4 or 8; wider as 4, narrower as 1) as decimal text with
// precision len.
std::string number_text(int len, const char* src) {
    char buf[64];
    if (len == 2) {
        int16_t v;
        std::memcpy(&v, src, sizeof v);
        std::snprintf(buf, sizeof buf, "%.*hd", len, v);
    } else if (len == 8) {
        int64_t v;
        std::memcpy(&v, src, sizeof v);
        std::snprintf(buf, sizeof buf, "%.*" PRId64, len, v);
    } else if (len >= 4) {
        int32_t v;
        std::memcpy(&v, src, sizeof v);
        std::snprintf(buf, sizeof buf, "%.*d", len, v);
    } else {
        // Narrower than an int: only the bytes given are read.
        int8_t v = 0;
        if (len > 0) std::memcpy(&v, src, 1);
        std::snprintf(buf, sizeof buf, "%.*d", len, static_cast<int>(v));
    }
    return buf;
}

// Text into a character field (the character-to-character conversion).
int text_to_text(int dlen, char* dest, int slen, const char* src, int flags) {
    if (dlen < 0) dlen = 0;
    size_t n = slen < 0 ? std::strlen(src) : static_cast<size_t>(slen);
    if (slen >= 0) {
        const void* nul = std::memchr(src, '\0', n);
        if (nul != nullptr) n = static_cast<size_t>(static_cast<const char*>(nul) - src);
    }
    // The source is never written into: the cut only shortens what is taken.
    if (flags & CVD_TRIM)
        while (n > 0 && std::isspace(static_cast<unsigned char>(src[n - 1]))) --n;
    const char* text = src;
    if (n == 0) {
        text = " ";
        n = 1;
    }
    const bool right = (flags & CVD_RIGHT) != 0;
    if (right) std::memset(dest, ' ', static_cast<size_t>(dlen));
    int written;
    if ((flags & CVD_QUOTE) && std::memchr(text, ' ', n) != nullptr && text[0] != '"') {
        const bool dq = std::memchr(text, '"', n) != nullptr;
        const bool sq = std::memchr(text, '\'', n) != nullptr;
        const char q = !dq ? '"' : (!sq ? '\'' : '\t');
        int room = dlen - 2;
        if (room < 0) room = 0;
        size_t k = n < static_cast<size_t>(room) ? n : static_cast<size_t>(room);
        int total = static_cast<int>(k) + 2;
        // Right-aligned, the whole quoted text stays inside the field.
        char* at = right && total <= dlen ? dest + (dlen - total) : dest;
        at[0] = q;
        std::memcpy(at + 1, text, k);
        at[k + 1] = q;
        written = total;
    } else {
        size_t k = n < static_cast<size_t>(dlen) ? n : static_cast<size_t>(dlen);
        char* at = right ? dest + (static_cast<size_t>(dlen) - k) : dest;
        std::memcpy(at, text, k);
        written = static_cast<int>(k);
    }
    if ((flags & CVD_PAD) && !right && written < dlen)
        std::memset(dest + written, ' ', static_cast<size_t>(dlen - written));
    if (!(flags & CVD_NONUL)) {
        if ((flags & CVD_PAD) || right)
            dest[dlen > written ? dlen : written] = '\0';
        else
            dest[written] = '\0';
    }
    return written;
}

int text_to_number(int dlen, char* dest, int slen, const char* src) {
    size_t n = slen < 0 ? std::strlen(src) : static_cast<size_t>(slen);
    std::string text;
    for (size_t i = 0; i < n && src[i] != '\0'; ++i) text.push_back(src[i]);
    const char* allowed = dlen >= 8 ? "0123456789+-. eEdD" : "0123456789+-. ";
    for (char ch : text) {
        if (std::strchr(allowed, ch) == nullptr) {
            PRINT('w', "diu4030", "Binary to character conversion error. Value:%s(%c)\n",
                  text.c_str(), ch);
            return 0;
        }
    }
    if (dlen == 1) {
        auto v = static_cast<int8_t>(std::atoi(text.c_str()));
        std::memcpy(dest, &v, 1);
        return 1;
    }
    if (dlen == 2) {
        auto v = static_cast<int16_t>(std::atoi(text.c_str()));
        std::memcpy(dest, &v, 2);
        return 2;
    }
    if (dlen == 8) {
        // A Fortran exponent letter reads as 'e'.
        for (char& ch : text)
            if (ch == 'd' || ch == 'D') ch = 'e';
        double v = std::atof(text.c_str());
        std::memcpy(dest, &v, 8);
        return 8;
    }
    auto v = static_cast<int32_t>(std::atol(text.c_str()));
    std::memcpy(dest, &v, 4);
    return 4;
}

}  // namespace

_anchorDBX* DBX_init(char* serverid, char* logonid, char* password) {
    auto* a = zalloc<_anchorDBX>(sizeof(_anchorDBX));
    a->serverid = serverid;
    a->logonid = logonid;
    a->password = password;
    return a;
}

void DBX_free(_anchorDBX* a) {
    if (a == nullptr) return;
    for (;;) {
        auto* d = static_cast<_anchorDBdata*>(g_getFirst(&a->result_sets));
        if (d == nullptr) break;
        freeDBresults(d, 'a');
    }
    U_FREE(a);
}

_anchorDBdata* DB_DATA_init(_anchorDBX* anchor, _anchorDBdata* family, int type) {
    _anchorDBdata* top = family != nullptr ? family_top(family) : nullptr;
    if (top != nullptr) {
        for (_anchorDBdata* s = top; s != nullptr; s = sibling_after(s)) {
            if (s->has_rows == 0 || s->type == type) {
                s->type = static_cast<int16_t>(type);
                if (anchor != nullptr) anchor->current = s;
                return s;
            }
        }
    }
    auto* d = zalloc<_anchorDBdata>(sizeof(_anchorDBdata));
    d->top = top != nullptr ? top : d;
    d->owner = anchor;
    d->type = static_cast<int16_t>(type);
    if (top != nullptr)
        g_linkLast(&top->sibling_link, &d->sibling_link, d);
    else if (anchor != nullptr)
        g_linkLast(&anchor->result_sets, &d->anchor_link, d);
    if (anchor != nullptr) anchor->current = d;
    return d;
}

_columnData* COLUMN_DATA_init(_anchorDBdata* d, int n) {
    if (d->Acoldata == nullptr && n > 0) {
        d->Acoldata = zalloc<_columnData>(sizeof(_columnData) * static_cast<size_t>(n));
        d->ncols = static_cast<uint16_t>(n);
    }
    return d->Acoldata;
}

_rowData* ROW_DATA_init(_anchorDBdata* d) {
    const int n = d->ncols;
    auto* row = zalloc<_rowData>(sizeof(_rowData) + sizeof(_rowColumn) * static_cast<size_t>(n));
    row->ncols = n;
    if (!(d->flags & DBD_NO_ROW_BUFFER)) {
        size_t size = d->maxRowSize > 0 ? static_cast<size_t>(d->maxRowSize) : 1;
        row->buffer = zalloc<char>(size);
    }
    ++d->counter;
    d->rows_held = d->counter;
    d->has_rows = 1;
    for (int i = 0; i < n; ++i) {
        const _columnData& c = d->Acoldata[i];
        row->col[i].offset = c.offset;
        row->col[i].length = c.length;
        row->col[i].indicator = 1;
        row->col[i].value = row->buffer != nullptr ? row->buffer + c.offset : nullptr;
    }
    g_linkLast(&d->rows, &row->link, row);
    return row;
}

_rowData* ROW_DATA_free(_anchorDBdata* d, _rowData* row) {
    if (row == nullptr) return nullptr;
    auto* next = static_cast<_rowData*>(g_dlink(&d->rows, &row->link, 'n'));
    U_FREE(row->buffer);
    U_FREE(row);
    if (d->rows_held > 0) --d->rows_held;
    return next;
}

_rowData* ROW_DATA_get_first(_anchorDBdata* d) {
    return d != nullptr ? static_cast<_rowData*>(g_getFirst(&d->rows)) : nullptr;
}

_rowData* ROW_DATA_get_nth(_anchorDBdata* d, int n) {
    return d != nullptr ? static_cast<_rowData*>(g_getNth(&d->rows, n)) : nullptr;
}

_rowData* ROW_DATA_get_next(_rowData* row) {
    return row != nullptr ? static_cast<_rowData*>(g_getNext(&row->link)) : nullptr;
}

_rowData* ROW_DATA_freeFirst_getNext(_anchorDBdata* d) {
    return ROW_DATA_free(d, ROW_DATA_get_first(d));
}

_anchorDBdata* DB_DATA_get_next(_anchorDBdata* d, char mode) {
    if (d == nullptr) return nullptr;
    if (mode == 'c' || mode == 'C') return static_cast<_anchorDBdata*>(g_getNext(&d->anchor_link));
    return sibling_after(d);
}

_anchorDBdata* DB_DATA_get_prior(_anchorDBdata* d, char mode) {
    if (d == nullptr) return nullptr;
    if (mode == 'c' || mode == 'C') return static_cast<_anchorDBdata*>(g_getPrior(&d->anchor_link));
    return sibling_before(d);
}

_anchorDBdata* DB_DATA_freeCurrent_getPrior(_anchorDBdata* top, _anchorDBdata* d) {
    if (d == nullptr || top == nullptr || d == family_top(top) || family_top(d) != family_top(top))
        return nullptr;
    _anchorDBdata* prior = sibling_before(d);
    free_result_set(d);
    return prior;
}

_anchorDBdata* DB_DATA_get_last_r(_anchorDBdata* d) {
    if (d == nullptr) return nullptr;
    auto* last = static_cast<_anchorDBdata*>(g_getLast(&family_top(d)->sibling_link));
    return last != nullptr ? last : family_top(d);
}

_anchorDBdata* DB_DATA_get_first_c(_anchorDBX* a) {
    return a != nullptr ? static_cast<_anchorDBdata*>(g_getFirst(&a->result_sets)) : nullptr;
}

void freeDBresults(_anchorDBdata* d, char mode) {
    if (d == nullptr) return;
    mode = static_cast<char>(std::tolower(static_cast<unsigned char>(mode)));
    _anchorDBdata* s = DB_DATA_get_last_r(d);
    while (s != nullptr) {
        _anchorDBdata* prior = sibling_before(s);
        if (s->has_rows || ROW_DATA_get_first(s) != nullptr) free_rows(s);
        if (mode == 'a' || mode == 'c') free_columns(s);
        if (mode == 'a') free_result_set(s);
        s = prior;
    }
}

int sqlda_2_column_data(xSQLDA* lda, _anchorDBdata* d) {
    if (lda == nullptr || lda->F < 1) return 0;
    const int n = lda->F;
    _columnData* cols = COLUMN_DATA_init(d, n);
    if (cols == nullptr || d->ncols < n) return 0;
    int32_t at = 0;
    for (int i = 0; i < n; ++i) {
        _columnData& c = cols[i];
        int nl = lda->C[i] < 31 ? lda->C[i] : 31;
        if (nl < 0) nl = 0;
        std::memset(c.name, 0, sizeof c.name);
        if (lda->S[i] != nullptr) std::memcpy(c.name, lda->S[i], static_cast<size_t>(nl));
        c.length = c.width = lda->L[i];
        c.offset = at;
        c.conv_type = 1;
        c.number = static_cast<uint16_t>(i + 1);
        if (lda->T[i] == 1) {
            c.type = 1;
            at += lda->L[i];
        } else if (lda->T[i] == 2) {
            c.type = 2;
            c.width = 4;
            at += lda->L[i];
        } else {
            PRINT('e', "fxr1205", "invalid column type\n");
        }
    }
    d->maxRowSize = at + 1;
    return n;
}

int curs_columns_2_column_data(columns* first, _anchorDBdata* d) {
    int n = 0;
    for (columns* c = first; c != nullptr; c = c->next) ++n;
    if (n == 0) return 0;
    _columnData* cols = COLUMN_DATA_init(d, n);
    if (cols == nullptr || d->ncols < n) return 0;
    int32_t at = 0;
    int i = 0;
    for (columns* col = first; col != nullptr; col = col->next, ++i) {
        _columnData& c = cols[i];
        int nl = col->col_name_ll < 31 ? col->col_name_ll : 31;
        if (nl < 0) nl = 0;
        std::memset(c.name, 0, sizeof c.name);
        std::memcpy(c.name, col->col_name, static_cast<size_t>(nl));
        c.length = col->len;
        c.width = col->oracle_len;
        c.source_type = col->orig_type;
        c.offset = at;
        c.conv_type = 1;
        c.number = static_cast<uint16_t>(i + 1);
        if (col->data_type == 1 || col->data_type == 2) {
            c.type = col->data_type;
            at += col->len > 0 ? col->len : 0;
        } else {
            PRINT('e', "fxr1205", "invalid column type\n");
        }
    }
    d->maxRowSize = at + 1;
    return n;
}

int convert_2_column_data(curs* c, _anchorDBdata* d) {
    if (c->xlda != nullptr) return sqlda_2_column_data(static_cast<xSQLDA*>(c->xlda), d);
    if (c->insert_columns != nullptr) return curs_columns_2_column_data(c->insert_columns, d);
    return 0;
}

int convertData(int dlen, char* dest, int dtype, int slen, const char* src, int stype, int flags) {
    if (dest == nullptr || src == nullptr) return 0;
    if (dtype == 1 && stype == 2) {
        std::string text = number_text(slen, src);
        if (!(flags & CVD_LEFTNUM)) flags |= CVD_RIGHT;
        return text_to_text(dlen, dest, -1, text.c_str(), flags);
    }
    if (dtype == 1 && stype == 1) return text_to_text(dlen, dest, slen, src, flags);
    if (dtype == 2 && stype == 1) return text_to_number(dlen, dest, slen, src);
    return 0;
}

int formatColumn(int width, char* out, int len, const char* value, int type, char sep, int flags) {
    if (width < 0) width = 0;
    int n;
    if (type == 1) {
        n = text_to_text(width, out, len, value, flags | CVD_NONUL);
        if (flags & CVD_RIGHT) n = width > n ? width : n;
    } else if (type == 2) {
        std::string text = number_text(len, value);
        if (static_cast<int>(text.size()) > width) text.resize(static_cast<size_t>(width));
        const int k = static_cast<int>(text.size());
        if (flags & CVD_LEFTNUM) {
            std::memcpy(out, text.data(), static_cast<size_t>(k));
            n = k;
        } else {
            std::memset(out, ' ', static_cast<size_t>(width));
            std::memcpy(out + (width - k), text.data(), static_cast<size_t>(k));
            n = width;
        }
    } else {
        n = std::sprintf(out, "%*" PRIXPTR " ", len, reinterpret_cast<uintptr_t>(value));
    }
    if ((flags & CVD_PAD) && n < width) {
        std::memset(out + n, ' ', static_cast<size_t>(width - n));
        n = width;
    }
    if (sep != '\0') out[n++] = sep;
    if (!(flags & CVD_NONUL)) out[n] = '\0';
    return n;
}

int formatDBDataRow(_anchorDBdata* d, int format) {
    if (my_trace_all[1]) PRINT('t', "msu1005", "Format result type: %d\n", format);
    const int layout = format > 10 ? format - 10 : format;
    if (layout < 1 || layout > 4 || (format > 4 && format < 11)) {
        PRINT('e', "msu1010", "formatDBresults() Invalid format type %d\n", format);
        return 1;
    }
    const bool to_log = format > 10;
    int base_flags = 0;
    switch (layout) {
        case 1:
            base_flags = CVD_PAD | CVD_LEFTNUM | CVD_QUOTE;
            break;
        case 2:
            base_flags = CVD_PAD | CVD_LEFTNUM;
            break;
        case 3:
            base_flags = CVD_QUOTE | CVD_TRIM;
            break;
        default:
            base_flags = CVD_LEFTNUM | CVD_TRIM;
            break;
    }
    const char sep = layout == 4 ? '\t' : ' ';
    for (_anchorDBdata* s = d != nullptr ? family_top(d) : nullptr; s != nullptr;
         s = sibling_after(s)) {
        int rowno = 0;
        for (_rowData* row = ROW_DATA_get_first(s); row != nullptr; row = ROW_DATA_free(s, row)) {
            ++rowno;
            std::string line;
            for (int i = 0; i < s->ncols && i < row->ncols; ++i) {
                const _columnData& c = s->Acoldata[i];
                int flags = base_flags;
                int width = c.width;
                if (c.type == 2) {
                    flags = (flags & ~CVD_LEFTNUM) | CVD_RIGHT;
                } else if (flags & CVD_QUOTE) {
                    width += 2;
                }
                const _rowColumn& rc = row->col[i];
                const char* value = rc.value != nullptr
                                        ? rc.value
                                        : (row->buffer != nullptr ? row->buffer + rc.offset : "");
                int room = (width > rc.length ? width : rc.length) + 24;
                std::string out(static_cast<size_t>(room), '\0');
                int k = formatColumn(width, out.data(), rc.length, value, c.conv_type, sep, flags);
                line.append(out.data(), static_cast<size_t>(k));
            }
            if (to_log) {
                PRINT('t', "msu1015", "row (%d) ", rowno);
                PRINT('-', "", "%s", line.c_str());
                PRINT('-', "", "\n");
            } else {
                std::printf("%s\n", line.c_str());
                std::fflush(stdout);
            }
        }
    }
    return 0;
}
