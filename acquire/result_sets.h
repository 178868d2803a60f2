// In-memory result sets for rows that do not come from Client-Library: the output of a fetch
// exit and the collector's side of the parent-child SQL channel.
//
// An anchor (_anchorDBX) holds its result sets (_anchorDBdata) in creation order. A result
// set describes its columns in one array (_columnData) and keeps its rows (_rowData) in
// arrival order, each row with its own value buffer of maxRowSize bytes. Result sets may also
// form a family: the first one (top) anchors the list of its siblings. All lists are g_chain
// lists of runtime/chains.h. Every record is allocated zero-filled with u_malloc.
//
// Also here: the two value converters, convertData (text into a column value) and
// formatColumn (a column value into display text), and the printer formatDBDataRow.
#pragma once

#include <cstdint>

#include "runtime/chains.h"

struct curs;
struct columns;
struct xSQLDA;
struct _anchorDBdata;

struct _anchorDBX {
    char* serverid;  // the caller's texts, not copied
    char* logonid;
    char* password;  // stored form
    g_chain result_sets;
    _anchorDBdata* current;  // the result set made or reused last
};

// Result-set flag: rows have no buffer of their own.
inline constexpr uint16_t DBD_NO_ROW_BUFFER = 0x20;

struct _columnData {
    int32_t type;         // 1 character, 2 number
    int32_t conv_type;    // form in which values are held; 1 character text
    int32_t source_type;  // the cursor column's orig_type, 0 from a descriptor
    char name[32];
    int32_t offset;     // place of the value in a row's buffer
    int32_t width;      // display width
    int32_t length;     // value length
    uint16_t number;    // 1-based position
    int16_t indicator;  // 0; null indicator of every value of the column
};

struct _anchorDBdata {
    g_chain anchor_link;   // place in the anchor's result sets
    g_chain sibling_link;  // the top's is the anchor of the family's other members
    _anchorDBdata* top;
    int32_t has_rows;  // 1 once a row was added, 0 after the rows were freed
    uint16_t flags;    // DBD_NO_ROW_BUFFER
    int16_t type;      // result kind given at creation (1 fetch-exit output)
    // Sum of the column lengths + 1. 32 bits: a layout of more than 64 KiB never wraps.
    int32_t maxRowSize;
    uint16_t ncols;      // entries of Acoldata
    uint16_t rows_held;  // rows in the list
    uint16_t counter;    // rows added since the last release
    _columnData* Acoldata;
    g_chain rows;
    _anchorDBX* owner;
};

// One column entry of a row.
struct _rowColumn {
    int32_t length;     // length of the value
    int32_t offset;     // its offset in the row's buffer
    int16_t indicator;  // 1 present
    char* value;        // buffer + offset, or null without a buffer
};

struct _rowData {
    g_chain link;
    char* buffer;  // maxRowSize zero-filled bytes; null with DBD_NO_ROW_BUFFER
    int32_t ncols;
    _rowColumn col[];  // ncols entries
};

// A new anchor holding the three texts (not copied).
_anchorDBX* DBX_init(char* serverid, char* logonid, char* password);
// Frees every result set of the anchor (rows and columns included) and the anchor.
void DBX_free(_anchorDBX* a);

// A result set. With a family: the first of the family, from the top, that holds no rows or
// has this type is reused, else a new one joins the family. Without a family a new one is
// made: on the anchor's list when an anchor is given, else as the top of a new family. The
// anchor's current result set becomes it.
_anchorDBdata* DB_DATA_init(_anchorDBX* anchor, _anchorDBdata* family, int type);
// The column array, made with n zero-filled entries when missing.
_columnData* COLUMN_DATA_init(_anchorDBdata* d, int n);

// A new row appended at the end, its entries at the columns' offsets and lengths.
_rowData* ROW_DATA_init(_anchorDBdata* d);
// Unlinks and frees the row (and its buffer); returns the next row (null for a null row).
_rowData* ROW_DATA_free(_anchorDBdata* d, _rowData* row);
_rowData* ROW_DATA_get_first(_anchorDBdata* d);
_rowData* ROW_DATA_get_nth(_anchorDBdata* d, int n);
_rowData* ROW_DATA_get_next(_rowData* row);
// Frees the first row, returns the next.
_rowData* ROW_DATA_freeFirst_getNext(_anchorDBdata* d);

// Neighbours: mode 'c' in the anchor's list, any other letter among the siblings.
_anchorDBdata* DB_DATA_get_next(_anchorDBdata* d, char mode);
_anchorDBdata* DB_DATA_get_prior(_anchorDBdata* d, char mode);
// Unlinks d from the family of top and frees it with its rows and columns; returns its
// prior sibling. The top itself is not freed here (null).
_anchorDBdata* DB_DATA_freeCurrent_getPrior(_anchorDBdata* top, _anchorDBdata* d);
// The family's last sibling, or d itself.
_anchorDBdata* DB_DATA_get_last_r(_anchorDBdata* d);
// The anchor's first result set.
_anchorDBdata* DB_DATA_get_first_c(_anchorDBX* a);

// From the family's last sibling back to the top: 'r' frees the rows; 'c' also the column
// arrays; 'a' also the result sets themselves. Any case.
void freeDBresults(_anchorDBdata* d, char mode);

// Column descriptions of a fetch exit's result set: from the cursor's descriptor (xlda)
// when it has one, else from its columns; the number described.
int convert_2_column_data(curs* c, _anchorDBdata* d);
int sqlda_2_column_data(xSQLDA* lda, _anchorDBdata* d);
int curs_columns_2_column_data(columns* first, _anchorDBdata* d);

// convertData / formatColumn flags.
enum : int {
    CVD_PAD = 1,      // pad with blanks to the full length
    CVD_RIGHT = 2,    // right-align
    CVD_LEFTNUM = 4,  // left-align numbers
    CVD_QUOTE = 8,    // quote a text holding a blank
    CVD_TRIM = 16,    // cut trailing white space of the source
    CVD_NONUL = 32,   // no terminating NUL
};

// Converts slen bytes at src (type 1 text, 2 binary number; slen < 0: the text's length)
// into dest of dlen bytes and type dtype. Returns the length of the value text written (a
// quoted text with its quotes, padding not counted), the size of a stored number, 0 when a
// text is no number (diu4030) or the conversion is not known. A NUL may be written at
// dest[dlen]: dest must hold dlen + 1 bytes unless CVD_NONUL.
int convertData(int dlen, char* dest, int dtype, int slen, const char* src, int stype, int flags);
// A column value as display text: type 1 text, type 2 a binary number of len bytes, other
// types the value's address. Pads to width with CVD_PAD, appends sep when non-zero, a NUL
// unless CVD_NONUL. Returns the characters written.
int formatColumn(int width, char* out, int len, const char* value, int type, char sep, int flags);
// Prints, then frees, every row of every sibling result set: layouts 1 to 4 on standard
// output, 11 to 14 the same through the log. 0, or 1 for another layout (msu1010).
int formatDBDataRow(_anchorDBdata* d, int format);
