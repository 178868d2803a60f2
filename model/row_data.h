// One stored row of a cursor. A cursor's rows form a singly linked list, oldest first,
// from curs::first_row to curs::last_row.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

struct row_data {
    row_data* next;    // next younger row; null at the tail
    int32_t len;       // 0 in rows built from a fetch
    int32_t age;       // seconds the row has been held
    int16_t sampleno;  // low 16 bits of the cursor's sampleno when built
    int16_t rowno;     // low 16 bits of the cursor's rowno when built
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
