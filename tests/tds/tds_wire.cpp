#include "tests/tds/tds_wire.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zovtds {

void put_u8(Bytes& b, uint8_t v) { b.push_back(v); }
void put_u16(Bytes& b, uint16_t v) {
    b.push_back(static_cast<uint8_t>(v & 0xFF));
    b.push_back(static_cast<uint8_t>(v >> 8));
}
void put_u32(Bytes& b, uint32_t v) {
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>((v >> (8 * i)) & 0xFF));
}
void put_i32(Bytes& b, int32_t v) { put_u32(b, static_cast<uint32_t>(v)); }
void put_bytes(Bytes& b, const void* data, size_t n) {
    const auto* p = static_cast<const uint8_t*>(data);
    b.insert(b.end(), p, p + n);
}
void put_str8(Bytes& b, const std::string& s) {
    size_t n = s.size() > 255 ? 255 : s.size();
    put_u8(b, static_cast<uint8_t>(n));
    put_bytes(b, s.data(), n);
}

void put_done(Bytes& b, uint8_t token, uint16_t status, int32_t count) {
    put_u8(b, token);
    put_u16(b, status);
    put_u16(b, 0);  // transaction state
    put_i32(b, count);
}

void put_return_status(Bytes& b, int32_t status) {
    put_u8(b, kTokReturnStatus);
    put_i32(b, status);
}

void put_loginack(Bytes& b, uint8_t status, const std::string& server_name) {
    std::string name = server_name.substr(0, 255 - 10);
    put_u8(b, kTokLoginAck);
    // FreeTDS derives the name's length from the token length: exactly 10 + name.
    put_u16(b, static_cast<uint16_t>(10 + name.size()));
    put_u8(b, status);
    const uint8_t tds_version[4] = {5, 0, 0, 0};
    put_bytes(b, tds_version, 4);
    put_str8(b, name);
    // Product version 15.0.0.0, read major byte first; the top bit stays clear.
    const uint8_t product[4] = {0x0F, 0, 0, 0};
    put_bytes(b, product, 4);
}

void put_envchange(Bytes& b, uint8_t type, const std::string& new_value,
                   const std::string& old_value) {
    std::string nv = new_value.substr(0, 255), ov = old_value.substr(0, 255);
    put_u8(b, kTokEnvChange);
    put_u16(b, static_cast<uint16_t>(1 + 1 + nv.size() + 1 + ov.size()));
    put_u8(b, type);
    put_str8(b, nv);
    put_str8(b, ov);
}

void put_eed(Bytes& b, int32_t number, uint8_t state, uint8_t severity, const std::string& text,
             const std::string& server, const std::string& proc, uint16_t line) {
    std::string t = text.substr(0, 1024), sv = server.substr(0, 255), pr = proc.substr(0, 255);
    Bytes body;
    put_i32(body, number);
    put_u8(body, state);
    put_u8(body, severity);
    put_u8(body, 0);   // SQL state: none
    put_u8(body, 0);   // status: no parameters follow
    put_u16(body, 0);  // transaction state
    put_u16(body, static_cast<uint16_t>(t.size()));
    put_bytes(body, t.data(), t.size());
    put_str8(body, sv);
    put_str8(body, pr);
    put_u16(body, line);
    put_u8(b, kTokEed);
    put_u16(b, static_cast<uint16_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
}

namespace {

// Appends the type byte's length information.
void put_length_info(Bytes& b, const ColumnFormat& c) {
    switch (c.type) {
        case kChar:
        case kVarChar:
        case kBinary:
        case kVarBinary:
        case kIntN:
        case kFltN:
        case kDateTimeN:
        case kMoneyN:
            put_u8(b, static_cast<uint8_t>(c.max_length));
            break;
        case kNumeric:
        case kDecimal:
            put_u8(b, static_cast<uint8_t>(numeric_bytes(c.precision)));
            put_u8(b, c.precision);
            put_u8(b, c.scale);
            break;
        case kText:
        case kImage:
            put_i32(b, c.max_length);
            put_u16(b, 0);  // no table name
            break;
        case kLongChar:
        case kLongBinary:
            put_i32(b, c.max_length);
            break;
        default:
            break;  // fixed-length types carry none
    }
}

int fixed_size(uint8_t type) {
    switch (type) {
        case kInt1:
        case kBit:
            return 1;
        case kInt2:
            return 2;
        case kInt4:
        case kReal:
        case kDateTime4:
        case kMoney4:
        case 0x31:
        case 0x33:
            return 4;
        case kInt8:
        case kFlt8:
        case kDateTime:
        case kMoney:
            return 8;
        default:
            return -1;
    }
}

bool parse_long(const std::string& t, long long lo, long long hi, long long& out) {
    if (t.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long long v = strtoll(t.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

bool parse_double(const std::string& t, double& out) {
    if (t.empty()) return false;
    errno = 0;
    char* end = nullptr;
    out = strtod(t.c_str(), &end);
    return errno == 0 && *end == '\0';
}

// A decimal text as sign and digit string scaled by 10^scale (no point). False when it has
// more fractional digits than `scale` or is no number.
bool scaled_digits(const std::string& t, int scale, bool& negative, std::string& digits) {
    size_t i = 0;
    negative = false;
    if (i < t.size() && (t[i] == '-' || t[i] == '+')) negative = t[i++] == '-';
    std::string intpart, frac;
    bool point = false;
    for (; i < t.size(); ++i) {
        char ch = t[i];
        if (ch == '.' && !point) {
            point = true;
        } else if (ch >= '0' && ch <= '9') {
            (point ? frac : intpart) += ch;
        } else {
            return false;
        }
    }
    if (intpart.empty() && frac.empty()) return false;
    if (static_cast<int>(frac.size()) > scale) return false;
    frac.append(static_cast<size_t>(scale) - frac.size(), '0');
    digits = intpart + frac;
    size_t nz = digits.find_first_not_of('0');
    digits = nz == std::string::npos ? "0" : digits.substr(nz);
    return true;
}

// Big-endian magnitude of a decimal digit string in `size` bytes; false on overflow.
bool digits_to_be(const std::string& digits, size_t size, Bytes& out) {
    out.assign(size, 0);
    for (char ch : digits) {
        unsigned carry = static_cast<unsigned>(ch - '0');
        for (size_t k = size; k-- > 0;) {
            unsigned v = out[k] * 10u + carry;
            out[k] = static_cast<uint8_t>(v & 0xFF);
            carry = v >> 8;
        }
        if (carry != 0) return false;
    }
    return true;
}

bool parse_money(const std::string& t, long long& v) {
    bool neg = false;
    std::string digits;
    if (!scaled_digits(t, 4, neg, digits) || digits.size() > 19) return false;
    errno = 0;
    unsigned long long u = std::strtoull(digits.c_str(), nullptr, 10);
    const unsigned long long limit = neg ? 9223372036854775808ULL : 9223372036854775807ULL;
    if (errno != 0 || u > limit) return false;
    v = neg ? static_cast<long long>(0ULL - u) : static_cast<long long>(u);
    return true;
}

}  // namespace

int numeric_bytes(int precision) {
    static const int table[39] = {0,  2,  2,  3,  3,  4,  4,  4,  5,  5,  6,  6,  6,
                                  7,  7,  8,  8,  9,  9,  9,  10, 10, 11, 11, 11, 12,
                                  12, 13, 13, 14, 14, 14, 15, 15, 16, 16, 16, 17, 17};
    if (precision < 1) precision = 1;
    if (precision > 38) precision = 38;
    return table[precision];
}

void put_format(Bytes& b, const std::vector<ColumnFormat>& cols, bool params) {
    Bytes body;
    put_u16(body, static_cast<uint16_t>(cols.size()));
    for (const auto& c : cols) {
        put_str8(body, c.name);
        put_u8(body, c.status);
        put_i32(body, 0);  // user type
        put_u8(body, c.type);
        put_length_info(body, c);
        put_u8(body, 0);  // no locale
    }
    put_u8(b, params ? kTokParamFmt : kTokRowFmt);
    put_u16(b, static_cast<uint16_t>(body.size()));
    b.insert(b.end(), body.begin(), body.end());
}

// Whether the type has a null form (the variable-length and "N" types).
static bool type_is_nullable(uint8_t type) { return fixed_size(type) < 0; }

ColumnFormat nullable_variant(const ColumnFormat& col) {
    ColumnFormat c = col;
    switch (col.type) {
        case kInt1:
            c.type = kIntN;
            c.max_length = 1;
            break;
        case kInt2:
            c.type = kIntN;
            c.max_length = 2;
            break;
        case kInt4:
            c.type = kIntN;
            c.max_length = 4;
            break;
        case kInt8:
            c.type = kIntN;
            c.max_length = 8;
            break;
        case kFlt8:
            c.type = kFltN;
            c.max_length = 8;
            break;
        case kReal:
            c.type = kFltN;
            c.max_length = 4;
            break;
        case kDateTime:
            c.type = kDateTimeN;
            c.max_length = 8;
            break;
        case kDateTime4:
            c.type = kDateTimeN;
            c.max_length = 4;
            break;
        case kMoney:
            c.type = kMoneyN;
            c.max_length = 8;
            break;
        case kMoney4:
            c.type = kMoneyN;
            c.max_length = 4;
            break;
        default:
            break;
    }
    return c;
}

namespace {
int64_t days_from_civil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<int64_t>(era) * 146097 + static_cast<int64_t>(doe) - 719468;
}
void civil_from_days(int64_t z, int& y, unsigned& m, unsigned& d) {
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = doy - (153 * mp + 2) / 5 + 1;
    m = mp < 10 ? mp + 3 : mp - 9;
    y = static_cast<int>(yoe) + static_cast<int>(era) * 400 + (m <= 2);
}
const int64_t kDays1900 = days_from_civil(1900, 1, 1);
}  // namespace

// Days since 1900-01-01 and 1/300 seconds since midnight of "YYYY-MM-DD[ HH:MM[:SS[.fff]]]".
static bool parse_datetime(const std::string& text, int32_t& days, uint32_t& ticks) {
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, consumed = 0;
    char frac[16] = "";
    const char* t = text.c_str();
    if (sscanf(t, "%4d-%2d-%2d%n", &y, &mo, &d, &consumed) != 3) return false;
    const char* rest = t + consumed;
    if (*rest == ' ' || *rest == 'T') {
        int c2 = 0;
        if (sscanf(rest + 1, "%2d:%2d%n", &h, &mi, &c2) != 2) return false;
        rest += 1 + c2;
        if (*rest == ':') {
            int c3 = 0;
            if (sscanf(rest + 1, "%2d%n", &s, &c3) != 1) return false;
            rest += 1 + c3;
            if (*rest == '.') {
                int c4 = 0;
                if (sscanf(rest + 1, "%3[0-9]%n", frac, &c4) != 1) return false;
                rest += 1 + c4;
            }
        }
    }
    if (*rest != '\0') return false;
    if (y < 1753 || y > 9999 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 59)
        return false;
    int64_t dn = days_from_civil(y, static_cast<unsigned>(mo), static_cast<unsigned>(d));
    int cy;
    unsigned cm, cd;
    civil_from_days(dn, cy, cm, cd);
    if (cd != static_cast<unsigned>(d)) return false;  // 31 February and the like
    int ms = 0;
    if (frac[0] != '\0') {
        std::string f = frac;
        f.append(3 - f.size(), '0');
        ms = atoi(f.c_str());
    }
    days = static_cast<int32_t>(dn - kDays1900);
    uint64_t total_ms = ((static_cast<uint64_t>(h) * 60 + mi) * 60 + s) * 1000 + ms;
    ticks = static_cast<uint32_t>((total_ms * 300 + 500) / 1000);
    return true;
}

namespace {
// The width of a value of this column: its fixed size, or for the variant `nullable` (whose
// width the column declares) the declared one.
int value_width(const ColumnFormat& col, uint8_t nullable) {
    return col.type == nullable ? col.max_length : fixed_size(col.type);
}

// value_width, written in front of the value as its length byte for the `nullable` variant.
int put_width(Bytes& b, const ColumnFormat& col, uint8_t nullable) {
    int size = value_width(col, nullable);
    if (col.type == nullable) put_u8(b, static_cast<uint8_t>(size));
    return size;
}
}  // namespace

bool put_value(Bytes& b, const ColumnFormat& col, bool is_null, const std::string& text,
               std::string& error) {
    if (is_null) {
        if (!type_is_nullable(col.type)) {
            error = "NULL in a column of a fixed type";
            return false;
        }
        if (col.type == kLongChar || col.type == kLongBinary)
            put_i32(b, 0);
        else
            put_u8(b, 0);
        return true;
    }
    long long iv = 0;
    double dv = 0;
    switch (col.type) {
        case kChar:
        case kVarChar: {
            // A zero length means NULL to every client: an empty text goes as one blank.
            std::string s = text.empty() ? std::string(" ") : text;
            if (s.size() > static_cast<size_t>(col.max_length)) {
                error = "text longer than its column: " + s;
                return false;
            }
            put_str8(b, s);
            return true;
        }
        case kLongChar: {
            std::string s = text.empty() ? std::string(" ") : text;
            put_i32(b, static_cast<int32_t>(s.size()));
            put_bytes(b, s.data(), s.size());
            return true;
        }
        case kText: {
            std::string s = text.empty() ? std::string(" ") : text;
            put_u8(b, 16);
            for (int i = 0; i < 16; ++i) put_u8(b, static_cast<uint8_t>(i + 1));  // text pointer
            for (int i = 0; i < 8; ++i) put_u8(b, 0);                             // timestamp
            put_i32(b, static_cast<int32_t>(s.size()));
            put_bytes(b, s.data(), s.size());
            return true;
        }
        case kInt1:
        case kInt2:
        case kInt4:
        case kInt8:
        case kIntN: {
            int size = value_width(col, kIntN);
            long long lo = size == 1 ? 0 : size == 2 ? -32768 : size == 4 ? INT32_MIN : INT64_MIN;
            long long hi = size == 1 ? 255 : size == 2 ? 32767 : size == 4 ? INT32_MAX : INT64_MAX;
            if (!parse_long(text, lo, hi, iv)) {
                error = "not an integer of " + std::to_string(size) + " bytes: " + text;
                return false;
            }
            put_width(b, col, kIntN);
            auto u = static_cast<unsigned long long>(iv);
            for (int i = 0; i < size; ++i) put_u8(b, static_cast<uint8_t>((u >> (8 * i)) & 0xFF));
            return true;
        }
        case kFlt8:
        case kReal:
        case kFltN: {
            if (!parse_double(text, dv)) {
                error = "not a number: " + text;
                return false;
            }
            int size = put_width(b, col, kFltN);
            if (size == 4) {
                float f = static_cast<float>(dv);
                put_bytes(b, &f, 4);
            } else {
                put_bytes(b, &dv, 8);
            }
            return true;
        }
        case kDateTime:
        case kDateTime4:
        case kDateTimeN: {
            int32_t days = 0;
            uint32_t ticks = 0;
            if (!parse_datetime(text, days, ticks)) {
                error = "not a date and time: " + text;
                return false;
            }
            int size = put_width(b, col, kDateTimeN);
            if (size == 4) {
                if (days < 0 || days > 65535) {
                    error = "out of the small date range: " + text;
                    return false;
                }
                put_u16(b, static_cast<uint16_t>(days));
                put_u16(b, static_cast<uint16_t>(ticks / 300 / 60));
            } else {
                put_i32(b, days);
                put_u32(b, ticks);
            }
            return true;
        }
        case kMoney:
        case kMoney4:
        case kMoneyN: {
            if (!parse_money(text, iv)) {
                error = "not an amount of money: " + text;
                return false;
            }
            int size = put_width(b, col, kMoneyN);
            if (size == 4) {
                if (iv < INT32_MIN || iv > INT32_MAX) {
                    error = "out of the small money range: " + text;
                    return false;
                }
                put_i32(b, static_cast<int32_t>(iv));
            } else {
                auto u = static_cast<unsigned long long>(iv);
                put_u32(b, static_cast<uint32_t>(u >> 32));
                put_u32(b, static_cast<uint32_t>(u & 0xFFFFFFFFu));
            }
            return true;
        }
        case kNumeric:
        case kDecimal: {
            bool neg = false;
            std::string digits;
            Bytes mag;
            int size = numeric_bytes(col.precision);
            if (!scaled_digits(text, col.scale, neg, digits) ||
                static_cast<int>(digits.size()) > col.precision ||
                !digits_to_be(digits, static_cast<size_t>(size - 1), mag)) {
                error = "not a numeric(" + std::to_string(col.precision) + "," +
                        std::to_string(col.scale) + "): " + text;
                return false;
            }
            put_u8(b, static_cast<uint8_t>(size));
            put_u8(b, neg && digits != "0" ? 1 : 0);
            b.insert(b.end(), mag.begin(), mag.end());
            return true;
        }
        default:
            error = "type the server cannot write";
            return false;
    }
}

uint8_t Reader::u8() {
    if (bad || pos + 1 > n) {
        bad = true;
        return 0;
    }
    return p[pos++];
}
uint16_t Reader::u16() {
    uint16_t lo = u8();
    uint16_t hi = u8();
    return static_cast<uint16_t>(lo | (hi << 8));
}
uint32_t Reader::u32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i) v |= static_cast<uint32_t>(u8()) << (8 * i);
    return v;
}
std::string Reader::str(size_t len) {
    if (bad || len > n - pos) {
        bad = true;
        return {};
    }
    std::string s(reinterpret_cast<const char*>(p + pos), len);
    pos += len;
    return s;
}
void Reader::skip(size_t len) {
    if (bad || len > n - pos) {
        bad = true;
        return;
    }
    pos += len;
}

bool read_length_info(Reader& r, ColumnFormat& col) {
    switch (col.type) {
        case kChar:
        case kVarChar:
        case kBinary:
        case kVarBinary:
        case kIntN:
        case kFltN:
        case kDateTimeN:
        case kMoneyN:
            col.max_length = r.u8();
            break;
        case kNumeric:
        case kDecimal:
            col.max_length = r.u8();
            col.precision = r.u8();
            col.scale = r.u8();
            break;
        case kText:
        case kImage:
            col.max_length = r.i32();
            r.skip(r.u16());
            break;
        case kLongChar:
        case kLongBinary:
            col.max_length = r.i32();
            break;
        default:
            if (fixed_size(col.type) < 0) return false;
            col.max_length = fixed_size(col.type);
            break;
    }
    return !r.bad;
}

namespace {
std::string datetime_text(int32_t days, uint32_t ticks) {
    int y;
    unsigned m, d;
    civil_from_days(kDays1900 + days, y, m, d);
    uint64_t ms = (static_cast<uint64_t>(ticks) * 1000 + 150) / 300;
    char buf[40];
    snprintf(buf, sizeof buf, "%04d-%02u-%02u %02u:%02u:%02u.%03u", y, m, d,
             static_cast<unsigned>(ms / 3600000), static_cast<unsigned>(ms / 60000 % 60),
             static_cast<unsigned>(ms / 1000 % 60), static_cast<unsigned>(ms % 1000));
    return buf;
}
std::string scaled_text(const std::string& digits, bool neg, int scale) {
    std::string d = digits;
    if (static_cast<int>(d.size()) <= scale)
        d.insert(0, static_cast<size_t>(scale) + 1 - d.size(), '0');
    if (scale > 0) d.insert(d.size() - static_cast<size_t>(scale), ".");
    return neg ? "-" + d : d;
}
std::string hex_text(const std::string& raw) {
    static const char* hexd = "0123456789abcdef";
    std::string out = "0x";
    for (unsigned char c : raw) {
        out += hexd[c >> 4];
        out += hexd[c & 15];
    }
    return out;
}
}  // namespace

bool read_value(Reader& r, const ColumnFormat& col, std::string& text, bool& is_null) {
    is_null = false;
    size_t len = 0;
    switch (col.type) {
        case kChar:
        case kVarChar:
        case kBinary:
        case kVarBinary:
            len = r.u8();
            if (len == 0) break;
            text = r.str(len);
            if (col.type == kBinary || col.type == kVarBinary) text = hex_text(text);
            return !r.bad;
        case kLongChar:
        case kLongBinary:
            len = r.u32();
            if (len == 0) break;
            text = r.str(len);
            if (col.type == kLongBinary) text = hex_text(text);
            return !r.bad;
        case kText:
        case kImage:
            len = r.u8();
            if (len == 0) break;
            r.skip(len + 8);
            text = r.str(r.u32());
            return !r.bad;
        default:
            break;
    }
    if (col.type == kChar || col.type == kVarChar || col.type == kBinary ||
        col.type == kVarBinary || col.type == kLongChar || col.type == kLongBinary ||
        col.type == kText || col.type == kImage) {
        is_null = true;
        text = "NULL";
        return !r.bad;
    }
    // Numbers: fixed types have their size, the N types a length byte (0 = NULL).
    uint8_t type = col.type;
    int size = fixed_size(type);
    if (type == kIntN || type == kFltN || type == kDateTimeN || type == kMoneyN ||
        type == kNumeric || type == kDecimal) {
        size = r.u8();
        if (size == 0) {
            is_null = true;
            text = "NULL";
            return !r.bad;
        }
    }
    if (size < 0) return false;
    std::string raw = r.str(static_cast<size_t>(size));
    if (r.bad) return false;
    const auto* u = reinterpret_cast<const uint8_t*>(raw.data());
    auto le = [&](int from, int count) {
        unsigned long long v = 0;
        for (int i = count - 1; i >= 0; --i) v = (v << 8) | u[from + i];
        return v;
    };
    char buf[64];
    switch (type) {
        case kInt1:
        case kBit:
        case kInt2:
        case kInt4:
        case kInt8:
        case kIntN: {
            unsigned long long v = le(0, size);
            long long sv;
            if (size == 1)
                sv = static_cast<long long>(v);
            else if (size == 2)
                sv = static_cast<int16_t>(v);
            else if (size == 4)
                sv = static_cast<int32_t>(v);
            else
                sv = static_cast<long long>(v);
            text = std::to_string(sv);
            return true;
        }
        case kFlt8:
        case kReal:
        case kFltN: {
            if (size == 4) {
                float f;
                memcpy(&f, u, 4);
                snprintf(buf, sizeof buf, "%.9g", static_cast<double>(f));
            } else {
                double dv;
                memcpy(&dv, u, 8);
                snprintf(buf, sizeof buf, "%.17g", dv);
            }
            text = buf;
            return true;
        }
        case kDateTime:
        case kDateTime4:
        case kDateTimeN:
            if (size == 4)
                text = datetime_text(static_cast<int32_t>(le(0, 2)),
                                     static_cast<uint32_t>(le(2, 2) * 60 * 300));
            else
                text =
                    datetime_text(static_cast<int32_t>(le(0, 4)), static_cast<uint32_t>(le(4, 4)));
            return true;
        case kMoney:
        case kMoney4:
        case kMoneyN: {
            long long v;
            if (size == 4)
                v = static_cast<int32_t>(le(0, 4));
            else
                v = static_cast<long long>((le(0, 4) << 32) | le(4, 4));
            bool neg = v < 0;
            unsigned long long a = neg ? 0ULL - static_cast<unsigned long long>(v)
                                       : static_cast<unsigned long long>(v);
            text = scaled_text(std::to_string(a), neg, 4);
            return true;
        }
        case kNumeric:
        case kDecimal: {
            // Magnitude big-endian after the sign byte; convert to decimal digits.
            std::vector<uint8_t> mag(u + 1, u + size);
            std::string digits;
            bool nonzero = true;
            while (nonzero) {
                nonzero = false;
                unsigned rem = 0;
                for (auto& byte : mag) {
                    unsigned cur = rem * 256 + byte;
                    byte = static_cast<uint8_t>(cur / 10);
                    rem = cur % 10;
                    if (byte) nonzero = true;
                }
                digits.insert(digits.begin(), static_cast<char>('0' + rem));
            }
            text = scaled_text(digits, u[0] == 1, col.scale);
            return true;
        }
        default:
            return false;
    }
}

}  // namespace zovtds
