// The byte layouts that cross the collector-agent pipes: the request record and the
// answer header. Integers are in the host's byte order (both ends run on one host).
//
// Request record: 16-bit `len` (whole record, header included, at most 300), 16-bit
// `offset` (cursor name length, 1 to 8), the cursor name (no NUL), the reply-pipe name
// and a NUL, each present parameter and a NUL, two zero bytes.
// Answer header: 32-bit rows, 32-bit bytes per row; rows * len bytes of rows follow.
#pragma once

#include <cstdint>

#include "comm/comm_anchor.h"

constexpr int COMM_HEADER_BYTES = 8;
// Largest answer a requester accepts (rows * len); a larger header is taken as garbage.
constexpr int64_t COMM_ANSWER_MAX = int64_t{1} << 30;

// Builds the record for cursor `name` (name_len bytes), reply pipe `reply` and the
// non-null entries of `parms` (COMM_PARMS entries, null = absent; parms itself may be
// null). Returns 0, or 1 with *why set when the name is not 1 to 8 bytes, the reply
// name is empty or 100 characters or more, or the record would exceed 300 bytes.
int comm_request_encode(const char* name, int name_len, const char* reply, const char* const* parms,
                        data_request* out, const char** why);

// Checks the 4 header bytes of a record: 1 <= offset <= 8 and
// 4 + offset + 1 + 2 <= len <= 300. Returns 0, or 1 with *why set.
int comm_request_check_header(int16_t len, int16_t offset, const char** why);

// Checks a whole record (header as above; the name holds no NUL; the reply name is
// NUL-terminated inside the record, not empty and shorter than 100; the record ends with
// two zero bytes). Returns 0, or 1 with *why set.
int comm_request_check(const data_request* req, const char** why);

// Views into a checked record.
const char* comm_request_reply(const data_request* req);
// Points parm[] at the strings behind the reply name up to the record's end (the
// parameters, then the two empty strings of the closing zero bytes), as far as the
// COMM_PARMS entries reach; the entries after them are null. Returns the count set.
int comm_request_point_parms(data_request* req, char** parm);
// Copies the parameters of a checked record (without the two closing empty strings) into
// parms[COMM_PARMS] as pointers into the record; the rest null. Returns their count.
int comm_request_parms(const data_request* req, const char** parms);

// The record's wire bytes (req->len of them) into out (at least 300 bytes).
void comm_request_to_bytes(const data_request* req, unsigned char* out);
// Reads the 4 header bytes.
void comm_request_header_from_bytes(const unsigned char* in, int16_t* len, int16_t* offset);

void comm_header_encode(const stream_header& h, unsigned char* out);
// Decodes an answer header; 0 when rows >= 0, len >= 0 and rows * len (in 64 bits) is at
// most COMM_ANSWER_MAX, with *bytes set to rows * len; else 1.
int comm_header_decode(const unsigned char* in, stream_header* h, int64_t* bytes);
