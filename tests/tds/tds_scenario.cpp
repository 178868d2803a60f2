#include "tests/tds/tds_scenario.h"

#include <strings.h>
#include <time.h>

#include <cctype>
#include <cerrno>
#include <charconv>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string_view>

namespace zovtds {

std::string normalise_sql(const std::string& text) {
    std::string out;
    bool space = false;
    for (char ch : text) {
        if (isspace(static_cast<unsigned char>(ch))) {
            space = true;
            continue;
        }
        if (space && !out.empty()) out += ' ';
        space = false;
        out += ch;
    }
    return out;
}

namespace {

// Splits a line into words: blanks separate, 'quoted text' (with '' for a quote) is one
// word. `quoted` tells for each word whether it was quoted.
bool split_words(const std::string& line, std::vector<std::string>& words,
                 std::vector<bool>& quoted, std::string& error) {
    size_t i = 0;
    while (i < line.size()) {
        if (isspace(static_cast<unsigned char>(line[i]))) {
            ++i;
            continue;
        }
        std::string w;
        bool q = line[i] == '\'';  // a word that begins with a quote is quoted text
        while (i < line.size() && !isspace(static_cast<unsigned char>(line[i]))) {
            if (line[i] == '{') {
                // A value form is one piece of its word, blanks and all ({rand 1 9}).
                while (i < line.size() && line[i] != '}') w += line[i++];
                if (i < line.size()) w += line[i++];
                continue;
            }
            if (line[i] != '\'') {
                w += line[i++];
                continue;
            }
            ++i;
            bool closed = false;
            while (i < line.size()) {
                if (line[i] == '\'') {
                    if (i + 1 < line.size() && line[i + 1] == '\'') {
                        w += '\'';
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                w += line[i++];
            }
            if (!closed) {
                error = "unclosed quote";
                return false;
            }
        }
        words.push_back(w);
        quoted.push_back(q);
    }
    return true;
}

bool to_int(const std::string& t, long lo, long hi, long& out) {
    if (t.empty()) return false;
    errno = 0;
    char* end = nullptr;
    long v = strtol(t.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi) return false;
    out = v;
    return true;
}

// "name:type" with type one of the documented spellings.
bool parse_column(const std::string& word, ColumnFormat& col, std::string& error) {
    size_t colon = word.rfind(':');
    if (colon == std::string::npos) {
        error = "column '" + word + "' needs name:type";
        return false;
    }
    col = ColumnFormat{};
    col.name = word.substr(0, colon);
    std::string type = word.substr(colon + 1);
    for (auto& ch : type) ch = static_cast<char>(tolower(static_cast<unsigned char>(ch)));
    std::string base = type, arg;
    size_t paren = type.find('(');
    if (paren != std::string::npos) {
        if (type.back() != ')') {
            error = "bad type '" + type + "'";
            return false;
        }
        base = type.substr(0, paren);
        arg = type.substr(paren + 1, type.size() - paren - 2);
    }
    long n = 0, p = 0, s = 0;
    struct Fixed {
        const char* name;
        uint8_t code;
    };
    static const Fixed fixed[] = {
        {"tinyint", kInt1}, {"smallint", kInt2},     {"int", kInt4},
        {"bigint", kInt8},  {"float", kFlt8},        {"real", kReal},
        {"bit", kBit},      {"datetime", kDateTime}, {"smalldatetime", kDateTime4},
        {"money", kMoney},  {"smallmoney", kMoney4},
    };
    for (const auto& f : fixed) {
        if (base == f.name && arg.empty()) {
            col.type = f.code;
            return true;
        }
    }
    if ((base == "char" || base == "varchar") && to_int(arg, 1, 255, n)) {
        col.type = base == "char" ? kChar : kVarChar;
        col.max_length = static_cast<int32_t>(n);
        return true;
    }
    if (base == "intn" && to_int(arg, 1, 8, n) && (n == 1 || n == 2 || n == 4 || n == 8)) {
        col.type = kIntN;
        col.max_length = static_cast<int32_t>(n);
        return true;
    }
    if ((base == "floatn" || base == "datetimen" || base == "moneyn") && to_int(arg, 4, 8, n) &&
        (n == 4 || n == 8)) {
        col.type = base == "floatn" ? kFltN : base == "datetimen" ? kDateTimeN : kMoneyN;
        col.max_length = static_cast<int32_t>(n);
        return true;
    }
    if (base == "text" && arg.empty()) {
        col.type = kText;
        col.max_length = 32768;
        return true;
    }
    if (base == "longchar" && to_int(arg, 1, 1 << 24, n)) {
        col.type = kLongChar;
        col.max_length = static_cast<int32_t>(n);
        return true;
    }
    if (base == "numeric" || base == "decimal") {
        size_t comma = arg.find(',');
        std::string ps = comma == std::string::npos ? arg : arg.substr(0, comma);
        std::string ss = comma == std::string::npos ? "0" : arg.substr(comma + 1);
        if (to_int(ps, 1, 38, p) && to_int(ss, 0, p, s)) {
            col.type = base == "numeric" ? kNumeric : kDecimal;
            col.precision = static_cast<uint8_t>(p);
            col.scale = static_cast<uint8_t>(s);
            return true;
        }
    }
    error = "unknown type '" + type + "'";
    return false;
}

bool to_int64(std::string_view t, int64_t& out) {
    if (!t.empty() && t[0] == '+') t.remove_prefix(1);
    auto [end, ec] = std::from_chars(t.data(), t.data() + t.size(), out);
    return !t.empty() && ec == std::errc() && end == t.data() + t.size();
}

// One form, the text between its braces.
bool parse_form(const std::string& body, ValuePart& part) {
    if (body == "i") {
        part.kind = ValuePart::Copy;
        return true;
    }
    if (body == "n") {
        part.kind = ValuePart::Answer;
        part.b = 1;
        return true;
    }
    if (body == "tod") {
        part.kind = ValuePart::Tod;
        return true;
    }
    if (body.rfind("tod-", 0) == 0) {
        part.kind = ValuePart::Tod;
        return to_int64(std::string_view(body).substr(4), part.a) && part.a >= 0 && body[4] != '+';
    }
    if (body.rfind("rand ", 0) == 0) {
        std::istringstream words(body.substr(5));
        std::string lo, hi, more;
        part.kind = ValuePart::Rand;
        return words >> lo >> hi && !(words >> more) && to_int64(lo, part.a) &&
               to_int64(hi, part.b) && part.a <= part.b;
    }
    // A+Bn: the sign of B may follow the plus ({100+-2n}); B may be left out ({20+n}).
    const size_t plus = body.find('+', 1);
    if (plus != std::string::npos && body.size() > plus + 1 && body.back() == 'n') {
        part.kind = ValuePart::Answer;
        const std::string_view bv(body);
        const std::string_view b = bv.substr(plus + 1, body.size() - plus - 2);
        part.b = 1;
        return to_int64(bv.substr(0, plus), part.a) &&
               (b.empty() || (to_int64(b, part.b) && b[0] != '+'));
    }
    return false;
}

// Splits a value's text into plain text and forms. "{{" stands for a brace.
bool parse_forms(const std::string& text, std::vector<ValuePart>& parts, std::string& error) {
    parts.clear();
    if (text.find('{') == std::string::npos) return true;
    ValuePart lit;
    for (size_t at = 0; at < text.size();) {
        if (text[at] != '{') {
            lit.text += text[at++];
            continue;
        }
        if (at + 1 < text.size() && text[at + 1] == '{') {
            lit.text += '{';
            at += 2;
            continue;
        }
        const size_t close = text.find('}', at);
        if (close == std::string::npos) {
            error = "unclosed '{' in value '" + text + "'";
            return false;
        }
        const std::string body = text.substr(at + 1, close - at - 1);
        ValuePart form;
        if (!parse_form(body, form)) {
            error = "bad value form '{" + body + "}'";
            return false;
        }
        if (!lit.text.empty()) parts.push_back(std::move(lit));
        lit = ValuePart{};
        parts.push_back(form);
        at = close + 1;
    }
    if (!lit.text.empty()) parts.push_back(std::move(lit));
    return true;
}

bool make_value(const std::string& word, bool quoted, Value& v, std::string& error) {
    v = Value{};
    if (!quoted && strcasecmp(word.c_str(), "NULL") == 0) {
        v.is_null = true;
        return true;
    }
    v.text = word;
    return parse_forms(word, v.parts, error);
}

// The rest of a line after `count` words (for message texts and batch texts).
std::string rest_after(const std::string& line, int count) {
    size_t i = 0;
    for (int k = 0; k < count; ++k) {
        while (i < line.size() && isspace(static_cast<unsigned char>(line[i]))) ++i;
        while (i < line.size() && !isspace(static_cast<unsigned char>(line[i]))) ++i;
    }
    while (i < line.size() && isspace(static_cast<unsigned char>(line[i]))) ++i;
    std::string r = line.substr(i);
    while (!r.empty() && isspace(static_cast<unsigned char>(r.back()))) r.pop_back();
    return r;
}

}  // namespace

std::string expand_row_value(const std::string& text, int64_t i) {
    size_t at = text.find("{i}");
    if (at == std::string::npos) return text;
    std::string out;
    size_t from = 0;
    const std::string n = std::to_string(i);
    for (; at != std::string::npos; at = text.find("{i}", from)) {
        out.append(text, from, at - from);
        out += n;
        from = at + 3;
    }
    out.append(text, from, std::string::npos);
    return out;
}

int64_t ValueState::begin_answer(const Entry& e) {
    std::lock_guard<std::mutex> lock(mu_);
    if (answers_.size() <= e.index) answers_.resize(e.index + 1, 0);
    return ++answers_[e.index];
}

int64_t ValueState::rand(int64_t lo, int64_t hi) {
    uint64_t z;
    {
        // splitmix64: the same sequence for a seed on every platform
        std::lock_guard<std::mutex> lock(mu_);
        z = (rng_ += 0x9e3779b97f4a7c15ULL);
    }
    z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ULL;
    z = (z ^ (z >> 27)) * 0x94d049bb133111ebULL;
    z ^= z >> 31;
    const uint64_t span = static_cast<uint64_t>(hi) - static_cast<uint64_t>(lo) + 1;
    return span == 0 ? static_cast<int64_t>(z)  // the whole 64-bit range
                     : static_cast<int64_t>(static_cast<uint64_t>(lo) + z % span);
}

int64_t seconds_of_day_now() {
    const time_t now = time(nullptr);
    struct tm tm {};
    localtime_r(&now, &tm);
    return tm.tm_hour * 3600 + tm.tm_min * 60 + tm.tm_sec;
}

std::string expand_value(const Value& v, const ValueContext& ctx) {
    if (v.parts.empty()) return v.text;
    std::string out;
    for (const auto& p : v.parts) {
        switch (p.kind) {
            case ValuePart::Text:
                out += p.text;
                break;
            case ValuePart::Copy:
                out += std::to_string(ctx.i);
                break;
            case ValuePart::Answer:
                // Wraps rather than traps on an absurd count.
                out += std::to_string(static_cast<int64_t>(static_cast<uint64_t>(p.a) +
                                                           static_cast<uint64_t>(p.b) *
                                                               static_cast<uint64_t>(ctx.n)));
                break;
            case ValuePart::Rand:
                out += std::to_string(ctx.state != nullptr ? ctx.state->rand(p.a, p.b) : p.a);
                break;
            case ValuePart::Tod:
                out += std::to_string(((ctx.tod - p.a) % 86400 + 86400) % 86400);
                break;
        }
    }
    return out;
}

namespace {

// Makes columns that hold a NULL nullable (the values were checked row by row).
bool finish_result(Step& st, std::string&) {
    for (size_t c = 0; c < st.columns.size(); ++c) {
        for (const auto& row : st.rows) {
            if (row[c].is_null) {
                st.columns[c] = nullable_variant(st.columns[c]);
                break;
            }
        }
    }
    return true;
}

}  // namespace

bool parse_scenario(const std::string& text, Scenario& out, std::string& error) {
    out = Scenario{};
    std::istringstream in(text);
    std::string raw, line;
    int lineno = 0, start_line = 0;
    Entry* entry = nullptr;
    Step* result = nullptr;      // the open result step, for "row"
    int64_t pending_repeat = 0;  // "repeat N" waiting for its row line
    auto fail = [&](const std::string& what) {
        error = "line " + std::to_string(start_line) + ": " + what;
        return false;
    };
    auto close_result = [&]() {
        if (result == nullptr) return true;
        if (pending_repeat > 0) return fail("repeat must come before a row");
        std::string e;
        Step* r = result;
        result = nullptr;
        if (!finish_result(*r, e)) return fail(e);
        // Breaks after the last row line answer after the result's DONE, as steps.
        std::vector<Step> after;
        while (!r->breaks.empty() && r->breaks.back().before_row >= r->rows.size()) {
            Step st;
            st.kind = r->breaks.back().drop ? Step::Drop : Step::Delay;
            st.delay_ms = r->breaks.back().delay_ms;
            after.insert(after.begin(), std::move(st));
            r->breaks.pop_back();
        }
        for (auto& st : after) entry->answer.steps.push_back(std::move(st));
        return true;
    };
    while (std::getline(in, raw)) {
        ++lineno;
        if (line.empty()) start_line = lineno;
        if (!raw.empty() && raw.back() == '\r') raw.pop_back();
        if (!raw.empty() && raw.back() == '\\') {
            line += raw.substr(0, raw.size() - 1) + " ";
            continue;
        }
        line += raw;
        std::string cur;
        cur.swap(line);
        std::vector<std::string> w;
        std::vector<bool> q;
        std::string first = rest_after(cur, 0);
        if (first.empty() || first[0] == '#') continue;
        std::string e;
        std::string kw = first.substr(0, first.find_first_of(" \t"));
        if (kw == "batch" || kw == "match" || kw == "message" || kw == "error") {
            // Free text follows: quotes in it are the text's own.
            std::istringstream words(cur);
            for (std::string word; words >> word;) {
                w.push_back(word);
                q.push_back(false);
            }
        } else if (!split_words(cur, w, q, e)) {
            return fail(e);
        }
        long n = 0;
        if (kw == "server") {
            if (w.size() != 2) return fail("server needs one name");
            out.server_name = w[1];
        } else if (kw == "seed") {
            int64_t seed = 0;
            if (w.size() != 2 || !to_int64(w[1], seed)) return fail("seed N");
            out.seed = static_cast<uint64_t>(seed);
        } else if (kw == "login") {
            if (w.size() >= 2 && w[1] == "refuse" && w.size() <= 3) {
                if (w.size() == 2)
                    out.refuse_all = true;
                else
                    out.refuse_users.push_back(w[2]);
            } else if (w.size() == 3 && w[1] == "delay" && to_int(w[2], 0, 3600000, n)) {
                out.login_delay_ms = static_cast<int>(n);
            } else if (w.size() == 2 && w[1] == "drop") {
                out.login_drop = true;
            } else {
                return fail("login refuse [user] | login delay MS | login drop");
            }
        } else if (kw == "batch" || kw == "match" || kw == "rpc") {
            if (!close_result()) return false;
            Entry en;
            en.line = start_line;
            en.index = out.entries.size();
            if (kw == "batch") {
                en.kind = Entry::Batch;
                en.text = normalise_sql(rest_after(cur, 1));
                if (en.text.empty()) return fail("batch needs a statement");
            } else if (kw == "match") {
                en.kind = Entry::Match;
                en.text = rest_after(cur, 1);
                try {
                    en.pattern = std::regex(en.text, std::regex::ECMAScript | std::regex::icase);
                } catch (const std::regex_error&) {
                    return fail("bad pattern");
                }
            } else {
                en.kind = Entry::Rpc;
                if (w.size() < 2) return fail("rpc needs a procedure name");
                en.text = w[1];
                for (size_t k = 2; k < w.size(); ++k) {
                    std::string name, value = w[k];
                    if (!q[k] && value.size() > 1 && value[0] == '@') {
                        size_t eq = value.find('=');
                        if (eq == std::string::npos) return fail("argument @name=value expected");
                        name = value.substr(0, eq);
                        value = value.substr(eq + 1);
                    }
                    en.args.emplace_back(name, value);
                }
                en.check_args = w.size() > 2;
            }
            out.entries.push_back(std::move(en));
            entry = &out.entries.back();
        } else {
            if (entry == nullptr) return fail("'" + kw + "' before any batch, match or rpc");
            Answer& a = entry->answer;
            if (kw == "row") {
                if (result == nullptr) return fail("row without result");
                const int64_t copies = pending_repeat > 0 ? pending_repeat : 1;
                pending_repeat = 0;
                if (w.size() - 1 != result->columns.size())
                    return fail("row has " + std::to_string(w.size() - 1) + " values for " +
                                std::to_string(result->columns.size()) + " columns");
                std::vector<Value> row;
                Bytes scratch;
                for (size_t k = 1; k < w.size(); ++k) {
                    row.emplace_back();
                    if (!make_value(w[k], q[k], row.back(), e)) return fail(e);
                    // Checked on its own line: the first and last copy, the first answer,
                    // both ends of a {rand} and of the day. NULLs make the column nullable
                    // later.
                    const ColumnFormat col = nullable_variant(result->columns[k - 1]);
                    for (int end = 0; end < 2; ++end) {
                        ValueContext ctx;
                        ctx.i = end == 0 ? 0 : copies - 1;
                        ctx.tod = end == 0 ? 0 : 86399;
                        Value probe = row.back();
                        for (auto& p : probe.parts)
                            if (p.kind == ValuePart::Rand) p.a = end == 0 ? p.a : p.b;
                        const std::string v = expand_value(probe, ctx);
                        if (!put_value(scratch, col, probe.is_null, v, e)) return fail(e);
                    }
                }
                result->rows.push_back(std::move(row));
                result->repeat.push_back(copies);
                continue;
            }
            if ((kw == "delay" || kw == "drop") && result != nullptr && !result->rows.empty()) {
                // After a row line: a break inside the result. One that no further row
                // line follows becomes a step after the result again (close_result).
                RowBreak b;
                b.before_row = result->rows.size();
                b.drop = kw == "drop";
                if (!b.drop) {
                    if (w.size() != 2 || !to_int(w[1], 0, 3600000, n)) return fail("delay MS");
                    b.delay_ms = static_cast<int>(n);
                } else if (w.size() != 1) {
                    return fail("drop takes no value");
                }
                result->breaks.push_back(b);
                continue;
            }
            if (kw == "repeat") {
                if (result == nullptr) return fail("repeat without result");
                if (w.size() != 2 || !to_int(w[1], 1, 10000000, n)) return fail("repeat N");
                pending_repeat = n;
                continue;
            }
            if (pending_repeat > 0) return fail("repeat must come before a row");
            if (!close_result()) return false;
            if (kw == "result") {
                if (w.size() < 2) return fail("result needs columns");
                Step st;
                st.kind = Step::Result;
                for (size_t k = 1; k < w.size(); ++k) {
                    ColumnFormat c;
                    if (!parse_column(w[k], c, e)) return fail(e);
                    st.columns.push_back(c);
                }
                a.steps.push_back(std::move(st));
                result = &a.steps.back();
            } else if (kw == "message" || kw == "error") {
                long sev = 0, state = 0;
                if (w.size() < 4 || !to_int(w[1], INT32_MIN, INT32_MAX, n) ||
                    !to_int(w[2], 0, 255, sev) || !to_int(w[3], 0, 255, state))
                    return fail(kw + " NUMBER SEVERITY STATE TEXT");
                Step st;
                st.kind = Step::Message;
                st.number = static_cast<int32_t>(n);
                st.severity = static_cast<int>(sev);
                st.state = static_cast<int>(state);
                st.text = rest_after(cur, 4);
                a.steps.push_back(std::move(st));
                if (kw == "error") a.fail = true;
            } else if (kw == "status") {
                if (w.size() != 2 || !to_int(w[1], INT32_MIN, INT32_MAX, n))
                    return fail("status N");
                a.has_status = true;
                a.status = static_cast<int32_t>(n);
            } else if (kw == "param") {
                if (w.size() != 3) return fail("param @name:type VALUE");
                OutParam p;
                if (!parse_column(w[1], p.format, e)) return fail(e);
                p.format.status = 0x01;
                // Sent as written: the forms are for row values.
                p.value.is_null = !q[2] && strcasecmp(w[2].c_str(), "NULL") == 0;
                if (!p.value.is_null) p.value.text = w[2];
                if (p.value.is_null) p.format = nullable_variant(p.format);
                Bytes scratch;
                if (!put_value(scratch, p.format, p.value.is_null, p.value.text, e)) return fail(e);
                a.out_params.push_back(std::move(p));
            } else if (kw == "delay") {
                if (w.size() != 2 || !to_int(w[1], 0, 3600000, n)) return fail("delay MS");
                Step st;
                st.kind = Step::Delay;
                st.delay_ms = static_cast<int>(n);
                a.steps.push_back(std::move(st));
            } else if (kw == "drop") {
                Step st;
                st.kind = Step::Drop;
                a.steps.push_back(std::move(st));
            } else if (kw == "fail") {
                a.fail = true;
            } else {
                return fail("unknown keyword '" + kw + "'");
            }
        }
    }
    if (!line.empty()) return fail("continued line at the end");
    return close_result();
}

bool load_scenario(const std::string& path, Scenario& out, std::string& error) {
    std::ifstream f(path);
    if (!f) {
        error = "cannot read " + path;
        return false;
    }
    std::stringstream ss;
    ss << f.rdbuf();
    return parse_scenario(ss.str(), out, error);
}

const Entry* find_batch(const Scenario& s, const std::string& normalised) {
    for (const auto& e : s.entries) {
        if (e.kind == Entry::Batch && strcasecmp(e.text.c_str(), normalised.c_str()) == 0)
            return &e;
        if (e.kind == Entry::Match && std::regex_match(normalised, e.pattern)) return &e;
    }
    return nullptr;
}

const Entry* find_rpc(const Scenario& s, const std::string& name,
                      const std::vector<RpcParam>& params) {
    for (const auto& e : s.entries) {
        if (e.kind != Entry::Rpc || strcasecmp(e.text.c_str(), name.c_str()) != 0) continue;
        if (!e.check_args) return &e;
        if (e.args.size() != params.size()) continue;
        bool ok = true;
        for (size_t i = 0; i < params.size() && ok; ++i) {
            const auto& [an, av] = e.args[i];
            if (!an.empty() && strcasecmp(an.c_str(), params[i].name.c_str()) != 0) ok = false;
            std::string got = params[i].is_null ? "NULL" : params[i].value;
            if (av != got) ok = false;
        }
        if (ok) return &e;
    }
    return nullptr;
}

}  // namespace zovtds
