// Byte layouts of the TDS 5.0 token stream, as the test server writes and reads them.
//
// Everything in the token stream is little-endian except the packet header's length
// (big-endian) and the NUMERIC magnitude (big-endian). Encoders append to a byte vector;
// decoders read from a Reader that never runs past its end (a short read sets `bad`).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zovtds {

using Bytes = std::vector<uint8_t>;

// Packet types and the status bit of the last packet of a message.
constexpr uint8_t kPacketLanguage = 0x01;
constexpr uint8_t kPacketLogin = 0x02;
constexpr uint8_t kPacketResponse = 0x04;
constexpr uint8_t kPacketAttention = 0x06;
constexpr uint8_t kPacketTokens = 0x0F;
constexpr uint8_t kPacketLast = 0x01;
constexpr int kPacketHeader = 8;

// DONE status bits.
constexpr uint16_t kDoneMore = 0x01;
constexpr uint16_t kDoneError = 0x02;
constexpr uint16_t kDoneInProc = 0x08;
constexpr uint16_t kDoneCount = 0x10;
constexpr uint16_t kDoneAttention = 0x20;

// Token codes.
enum Token : uint8_t {
    kTokLanguage = 0x21,
    kTokLogout = 0x71,
    kTokReturnStatus = 0x79,
    kTokLoginAck = 0xAD,
    kTokRowFmt = 0xEE,
    kTokRow = 0xD1,
    kTokParams = 0xD7,
    kTokCapability = 0xE2,
    kTokEnvChange = 0xE3,
    kTokEed = 0xE5,
    kTokDbRpc = 0xE6,
    kTokParamFmt = 0xEC,
    kTokDone = 0xFD,
    kTokDoneProc = 0xFE,
    kTokDoneInProc = 0xFF,
};

// Server data types the server writes (and reads in RPC parameters).
enum TypeCode : uint8_t {
    kImage = 0x22,
    kText = 0x23,
    kVarBinary = 0x25,
    kIntN = 0x26,
    kVarChar = 0x27,
    kBinary = 0x2D,
    kChar = 0x2F,
    kInt1 = 0x30,
    kBit = 0x32,
    kInt2 = 0x34,
    kInt4 = 0x38,
    kDateTime4 = 0x3A,
    kReal = 0x3B,
    kMoney = 0x3C,
    kDateTime = 0x3D,
    kFlt8 = 0x3E,
    kDecimal = 0x6A,
    kNumeric = 0x6C,
    kFltN = 0x6D,
    kMoneyN = 0x6E,
    kDateTimeN = 0x6F,
    kMoney4 = 0x7A,
    kLongChar = 0xAF,
    kInt8 = 0xBF,
    kLongBinary = 0xE1,
};

// A column (or parameter) description: type code and the length information that
// ROWFMT/PARAMFMT carry for it.
struct ColumnFormat {
    std::string name;
    uint8_t type = kVarChar;
    int32_t max_length = 255;  // u8 for most types, i32 for TEXT/LONGCHAR
    uint8_t precision = 0;     // NUMERIC only
    uint8_t scale = 0;         // NUMERIC only
    uint8_t status = 0;        // column status byte (0x20 nullable; 0x01 output for params)
};

// ---- little-endian writers ----
void put_u8(Bytes& b, uint8_t v);
void put_u16(Bytes& b, uint16_t v);
void put_u32(Bytes& b, uint32_t v);
void put_i32(Bytes& b, int32_t v);
void put_bytes(Bytes& b, const void* data, size_t n);
// u8 length followed by the text, cut to 255 bytes.
void put_str8(Bytes& b, const std::string& s);

// ---- tokens ----
void put_done(Bytes& b, uint8_t token, uint16_t status, int32_t count);
void put_return_status(Bytes& b, int32_t status);
// LOGINACK: status 5 success, 6 failure.
void put_loginack(Bytes& b, uint8_t status, const std::string& server_name);
// ENVCHANGE with the new value first, then the old value.
void put_envchange(Bytes& b, uint8_t type, const std::string& new_value,
                   const std::string& old_value);
void put_eed(Bytes& b, int32_t number, uint8_t state, uint8_t severity, const std::string& text,
             const std::string& server, const std::string& proc, uint16_t line);
// ROWFMT (or PARAMFMT when `params`) for the columns.
void put_format(Bytes& b, const std::vector<ColumnFormat>& cols, bool params);

// Length of the NUMERIC value field (sign byte included) for a precision of 1..38.
int numeric_bytes(int precision);

// Appends one value of the column's type, written from its text form; a null value
// (`is_null`) is written as the type's null form. Returns false with `error` set when the
// text cannot be read as that type or the type has no null form.
bool put_value(Bytes& b, const ColumnFormat& col, bool is_null, const std::string& text,
               std::string& error);

// The nullable counterpart of a fixed type (INT4 -> INTN with length 4 and so on); other
// types unchanged.
ColumnFormat nullable_variant(const ColumnFormat& col);

// ---- reading ----
struct Reader {
    const uint8_t* p;
    size_t n;
    size_t pos = 0;
    bool bad = false;
    Reader(const uint8_t* data, size_t size) : p(data), n(size) {}
    size_t left() const { return bad ? 0 : n - pos; }
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    int32_t i32() { return static_cast<int32_t>(u32()); }
    std::string str(size_t len);
    void skip(size_t len);
};

// Reads the length information of a type as PARAMFMT/ROWFMT carry it.
bool read_length_info(Reader& r, ColumnFormat& col);
// Reads one value of the column's type and renders it as text ("NULL" for null values:
// `is_null` is set then). False when the type is unknown or the data runs short.
bool read_value(Reader& r, const ColumnFormat& col, std::string& text, bool& is_null);

}  // namespace zovtds
