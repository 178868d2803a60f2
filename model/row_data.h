// One stored row of a cursor, and the water mark of a HIGH_WATER / LOW_WATER column.
// A cursor's rows form a singly linked list, oldest first, from curs::first_row to
// curs::last_row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct row_data {
    row_data* next;    // next younger row; null at the tail
    int32_t len;       // 0 in rows built from a fetch
    int32_t age;       // seconds the row has been held
    int32_t sampleno;  // the cursor's sampleno when built
    int32_t rowno;     // the cursor's rowno when built
    char text[1];      // the row text; the record is allocated with room behind it
};

static_assert(std::is_trivially_copyable_v<row_data>);

// Bytes to allocate for a row whose text has text_len bytes: room for the text plus three
// bytes (at least one NUL behind it).
constexpr long row_data_size(long text_len) {
    return static_cast<long>(offsetof(row_data, text)) + text_len + 3;
}

// A zero-filled row from u_malloc with room for text_len bytes of text. Never null.
row_data* row_data_new(long text_len);
// A new unlinked row with r's length, age, sample and row numbers and the first text_len
// bytes of its text.
row_data* row_data_copy(const row_data* r, long text_len);

// The highest (or lowest) value a column has shown since the mark was set. Allocated
// zero-filled with room for the column's len bytes and a NUL in value.s_value.
struct water {
    int16_t is_set;  // 0 until the first value
    int16_t type;
    int16_t width;  // the column length the stored value has; another width restarts the mark
    union {
        double f_value;
        char s_value[8];  // len bytes and a NUL: the record runs past its declared end
    } value;
};

static_assert(std::is_trivially_copyable_v<water>);

// Bytes to allocate for a water mark of a column of len bytes.
constexpr long water_size(long len) {
    long need = static_cast<long>(offsetof(water, value)) + len + 1;
    return need < static_cast<long>(sizeof(water)) ? static_cast<long>(sizeof(water)) : need;
}
