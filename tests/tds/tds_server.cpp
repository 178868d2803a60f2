#include "tests/tds/tds_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <regex>

namespace zovtds {

namespace {

std::string field(const Bytes& p, size_t off, size_t width) {
    if (off + width + 1 > p.size()) return {};
    size_t len = p[off + width];
    if (len > width) len = width;
    return std::string(reinterpret_cast<const char*>(&p[off]), len);
}

std::string quote_value(const RpcParam& p) {
    if (p.is_null) return "NULL";
    std::string out = "'";
    for (char ch : p.value) {
        out += ch;
        if (ch == '\'') out += '\'';
    }
    return out + "'";
}

}  // namespace

const LogEntry* last_rpc(const std::vector<LogEntry>& log, const std::string& name) {
    const LogEntry* found = nullptr;
    for (const LogEntry& e : log)
        if (e.kind == LogEntry::Rpc && e.text == name) found = &e;
    return found;
}

std::string log_line(const LogEntry& e) {
    std::string conn = " conn=" + std::to_string(e.connection);
    switch (e.kind) {
        case LogEntry::Login:
        case LogEntry::LoginRefused:
            return std::string(e.kind == LogEntry::Login ? "login" : "refused") + conn +
                   " user=" + e.user + " app=" + e.app + " host=" + e.host +
                   " library=" + e.library;
        case LogEntry::Batch:
            return "batch" + conn + " " + normalise_sql(e.text);
        case LogEntry::Rpc: {
            std::string s = "rpc" + conn + " " + e.text;
            for (const auto& p : e.params)
                s += " " + (p.name.empty() ? std::string() : p.name + "=") + quote_value(p) +
                     (p.output ? " output" : "");
            return s;
        }
        case LogEntry::Attention:
            return "attention" + conn;
        case LogEntry::Logout:
            return "logout" + conn;
        case LogEntry::Unknown:
            return "unknown" + conn + " " + e.text;
    }
    return "?";
}

// One client connection. The descriptor is closed only under the mutex, so that stop()
// never shuts down a descriptor that was already reused.
struct Server::Connection {
    std::mutex mu;
    int fd = -1;
    int id = 0;
    bool closed = false;
    std::atomic<bool> finished{false};  // the connection's thread is about to end
    uint8_t packet_no = 0;
    std::string database = "master";

    void close_fd() {
        std::lock_guard<std::mutex> lock(mu);
        if (!closed) {
            ::close(fd);
            closed = true;
        }
    }
    void shutdown_fd() {
        std::lock_guard<std::mutex> lock(mu);
        if (!closed) ::shutdown(fd, SHUT_RDWR);
    }

    // Waits until the socket is readable or the deadline passes: 1 readable (or closed),
    // 0 time-out, -1 error.
    int wait_readable(int timeout_ms) {
        pollfd p{fd, POLLIN, 0};
        for (;;) {
            int r = ::poll(&p, 1, timeout_ms);
            if (r < 0 && errno == EINTR) continue;
            if (r < 0) return -1;
            return r == 0 ? 0 : 1;
        }
    }

    bool read_exact(uint8_t* buf, size_t n) {
        size_t got = 0;
        while (got < n) {
            ssize_t r = ::recv(fd, buf + got, n - got, 0);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            got += static_cast<size_t>(r);
        }
        return true;
    }

    // Reads one whole message (packets up to the last-packet bit). False at end of input.
    bool read_message(uint8_t& type, Bytes& payload) {
        payload.clear();
        for (;;) {
            uint8_t h[kPacketHeader];
            if (!read_exact(h, sizeof h)) return false;
            size_t len = (static_cast<size_t>(h[2]) << 8) | h[3];
            if (len < kPacketHeader) return false;
            size_t at = payload.size();
            payload.resize(at + len - kPacketHeader);
            if (!read_exact(payload.data() + at, len - kPacketHeader)) return false;
            type = h[0];
            if ((h[1] & kPacketLast) != 0 || type == kPacketAttention) return true;
        }
    }

    // Sends the token bytes as response packets of at most 512 bytes; the last one carries
    // the last-packet bit when `last`.
    bool send_tokens(const Bytes& tokens, bool last) {
        const size_t room = 512 - kPacketHeader;
        size_t off = 0;
        Bytes wire;
        do {
            size_t n = std::min(room, tokens.size() - off);
            bool final_chunk = off + n == tokens.size();
            size_t total = n + kPacketHeader;
            wire.push_back(kPacketResponse);
            wire.push_back(last && final_chunk ? kPacketLast : 0);
            wire.push_back(static_cast<uint8_t>(total >> 8));
            wire.push_back(static_cast<uint8_t>(total & 0xFF));
            wire.push_back(0);
            wire.push_back(0);
            wire.push_back(packet_no++);
            wire.push_back(0);
            wire.insert(wire.end(), tokens.begin() + static_cast<long>(off),
                        tokens.begin() + static_cast<long>(off + n));
            off += n;
        } while (off < tokens.size());
        size_t sent = 0;
        while (sent < wire.size()) {
            ssize_t r = ::send(fd, wire.data() + sent, wire.size() - sent, MSG_NOSIGNAL);
            if (r < 0 && errno == EINTR) continue;
            if (r <= 0) return false;
            sent += static_cast<size_t>(r);
        }
        return true;
    }
};

Server::Server() = default;
Server::~Server() { stop(); }

bool Server::start(const Scenario& scenario, int port, std::string& error) {
    if (listen_fd_ >= 0) {
        error = "server already running";
        return false;
    }
    scenario_ = std::make_shared<const Scenario>(scenario);
    values_ = std::make_shared<ValueState>(scenario.seed);
    stopping_ = false;
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        error = std::string("socket: ") + strerror(errno);
        return false;
    }
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || ::listen(fd, 64) != 0) {
        error = std::string("bind/listen: ") + strerror(errno);
        ::close(fd);
        return false;
    }
    socklen_t alen = sizeof a;
    getsockname(fd, reinterpret_cast<sockaddr*>(&a), &alen);
    if (::pipe2(wake_pipe_, O_CLOEXEC) != 0) {
        error = std::string("pipe: ") + strerror(errno);
        ::close(fd);
        return false;
    }
    listen_fd_ = fd;
    port_ = ntohs(a.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
    return true;
}

void Server::stop() {
    if (listen_fd_ < 0) return;
    stopping_ = true;
    if (write(wake_pipe_[1], "x", 1) < 0) {
        // the acceptor also sees stopping_ on its next wake-up
    }
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(mu_);
        for (auto& c : conns_) c->shutdown_fd();
        workers.swap(workers_);
    }
    for (auto& t : workers) t.join();
    {
        std::lock_guard<std::mutex> lock(mu_);
        conns_.clear();
    }
    ::close(listen_fd_);
    ::close(wake_pipe_[0]);
    ::close(wake_pipe_[1]);
    listen_fd_ = -1;
    wake_pipe_[0] = wake_pipe_[1] = -1;
}

void Server::set_scenario(const Scenario& scenario) {
    auto next = std::make_shared<const Scenario>(scenario);
    auto values = std::make_shared<ValueState>(scenario.seed);
    std::lock_guard<std::mutex> lock(mu_);
    scenario_ = std::move(next);
    values_ = std::move(values);
}

std::shared_ptr<const Scenario> Server::scenario_now(std::shared_ptr<ValueState>* values) const {
    std::lock_guard<std::mutex> lock(mu_);
    if (values != nullptr) *values = values_;
    return scenario_;
}

void Server::set_log_stream(FILE* stream) {
    std::lock_guard<std::mutex> lock(mu_);
    log_stream_ = stream;
}

std::vector<LogEntry> Server::log() const {
    std::lock_guard<std::mutex> lock(mu_);
    return log_;
}

void Server::clear_log() {
    std::lock_guard<std::mutex> lock(mu_);
    log_.clear();
}

bool Server::wait_for(const std::function<bool(const std::vector<LogEntry>&)>& pred,
                      int timeout_ms) const {
    std::unique_lock<std::mutex> lock(mu_);
    return cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), [&] { return pred(log_); });
}

void Server::record(LogEntry e) {
    std::lock_guard<std::mutex> lock(mu_);
    if (log_stream_ != nullptr) {
        fprintf(log_stream_, "%s\n", log_line(e).c_str());
        fflush(log_stream_);
    }
    log_.push_back(std::move(e));
    cv_.notify_all();
}

bool Server::write_freetds_conf(const std::string& path, const std::string& section) const {
    std::ofstream f(path, std::ios::trunc);
    if (!f) return false;
    f << "[global]\n\ttds version = 5.0\n\n"
      << "[" << section << "]\n\thost = 127.0.0.1\n\tport = " << port_ << "\n\ttds version = 5.0\n";
    return static_cast<bool>(f.flush());
}

void Server::accept_loop() {
    for (;;) {
        pollfd p[2] = {{listen_fd_, POLLIN, 0}, {wake_pipe_[0], POLLIN, 0}};
        int r = ::poll(p, 2, -1);
        if (stopping_) return;
        if (r < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if ((p[0].revents & POLLIN) == 0) continue;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        auto c = std::make_shared<Connection>();
        c->fd = fd;
        std::lock_guard<std::mutex> lock(mu_);
        c->id = ++next_id_;
        // Threads of connections that have ended are joined here, so that a long-running
        // server does not pile them up.
        for (size_t i = 0; i < conns_.size();) {
            if (conns_[i]->finished) {
                workers_[i].join();
                workers_.erase(workers_.begin() + static_cast<long>(i));
                conns_.erase(conns_.begin() + static_cast<long>(i));
            } else {
                ++i;
            }
        }
        conns_.push_back(c);
        ++open_;
        workers_.emplace_back([this, c] { serve(c); });
    }
}

namespace {

// Parses PARAMFMT + PARAMS at the reader's position into params. False on bad data.
bool read_params(Reader& r, std::vector<RpcParam>& params, std::string& error) {
    std::vector<ColumnFormat> fmts;
    while (r.left() > 0) {
        uint8_t tok = r.u8();
        if (tok == kTokParamFmt) {
            uint16_t len = r.u16();
            size_t end = r.pos + len;
            uint16_t count = r.u16();
            fmts.clear();
            for (uint16_t i = 0; i < count && !r.bad; ++i) {
                ColumnFormat c;
                c.name = r.str(r.u8());
                c.status = r.u8();
                r.u32();  // user type
                c.type = r.u8();
                if (!read_length_info(r, c)) {
                    error = "parameter type " + std::to_string(c.type) + " not understood";
                    return false;
                }
                r.skip(r.u8());  // locale
                fmts.push_back(c);
            }
            if (r.bad || r.pos != end) {
                error = "malformed PARAMFMT";
                return false;
            }
        } else if (tok == kTokParams) {
            for (const auto& c : fmts) {
                RpcParam p;
                p.name = c.name;
                p.output = (c.status & 0x01) != 0;
                if (!read_value(r, c, p.value, p.is_null)) {
                    error = "malformed PARAMS";
                    return false;
                }
                params.push_back(p);
            }
            return true;
        } else {
            error = "token " + std::to_string(tok) + " where parameters were expected";
            return false;
        }
    }
    return true;
}

// The answer to the statements FreeTDS sends by itself, or false when it is none of them.
bool builtin_answer(const std::string& norm, int spid, std::string& database, Bytes& out) {
    static const std::regex use_re(R"(^use\s+[\["]?([^\]"\s]+)[\]"]?$)", std::regex::icase);
    static const std::regex spid_re(
        R"(^(set textsize \d+ )?select @@spid( use [\["]?([^\]"\s]+)[\]"]?)?$)", std::regex::icase);
    std::smatch m;
    if (std::regex_match(norm, m, spid_re)) {
        ColumnFormat c;
        c.type = kInt4;
        put_format(out, {c}, false);
        put_u8(out, kTokRow);
        put_i32(out, spid);
        if (m[3].matched) {
            put_done(out, kTokDone, kDoneMore | kDoneCount, 1);
            put_envchange(out, 1, m[3].str(), database);
            database = m[3].str();
            put_done(out, kTokDone, 0, 0);
        } else {
            put_done(out, kTokDone, kDoneCount, 1);
        }
        return true;
    }
    if (std::regex_match(norm, m, use_re)) {
        put_envchange(out, 1, m[1].str(), database);
        database = m[1].str();
        put_done(out, kTokDone, 0, 0);
        return true;
    }
    // No transactions are kept: begin, commit and rollback are answered as a server answers
    // them outside a transaction, so a client's commit after a select succeeds.
    static const std::regex tran_re(R"(^(begin|commit|rollback)( tran(saction)?)?( \w+)?$)",
                                    std::regex::icase);
    if (std::regex_match(norm, tran_re)) {
        put_done(out, kTokDone, 0, 0);
        return true;
    }
    if (strncasecmp(norm.c_str(), "set ", 4) == 0) {
        put_done(out, kTokDone, 0, 0);
        return true;
    }
    return false;
}

}  // namespace

void Server::serve(std::shared_ptr<Connection> c) {
    struct Closer {
        Server* s;
        Connection* c;
        ~Closer() {
            c->close_fd();
            --s->open_;
            c->finished = true;
        }
    } closer{this, c.get()};

    uint8_t type = 0;
    Bytes msg;
    if (!c->read_message(type, msg)) return;
    if (type != kPacketLogin) {
        // A TDS 7 pre-login: closing makes FreeTDS retry with a 5.0 login if it may.
        LogEntry e;
        e.kind = LogEntry::Unknown;
        e.connection = c->id;
        e.text = "packet type " + std::to_string(type) + " before login";
        record(e);
        return;
    }
    std::shared_ptr<ValueState> values;
    std::shared_ptr<const Scenario> held = scenario_now(&values);
    const Scenario* scp = held.get();
    LogEntry login;
    login.kind = LogEntry::Login;
    login.connection = c->id;
    login.host = field(msg, 0, 30);
    login.user = field(msg, 31, 30);
    login.password = field(msg, 62, 30);
    login.app = field(msg, 140, 30);
    login.library = field(msg, 462, 10);
    // The remote-password block holds the whole password, where the field cuts it to 30.
    if (msg.size() > 457 && msg[202] == 0 && msg[203] > 30 &&
        static_cast<size_t>(204 + msg[203]) <= msg.size())
        login.password = std::string(reinterpret_cast<const char*>(&msg[204]), msg[203]);
    const Scenario& login_sc = *scp;
    bool refused = login_sc.refuse_all;
    for (const auto& u : login_sc.refuse_users)
        if (u == login.user) refused = true;
    if (refused) login.kind = LogEntry::LoginRefused;
    record(login);
    if (login_sc.login_drop) return;
    if (login_sc.login_delay_ms > 0) {
        // A closed socket or stop() ends the wait early.
        if (c->wait_readable(login_sc.login_delay_ms) != 0) return;
    }
    Bytes out;
    if (refused) {
        put_eed(out, 4002, 1, 14, "Login failed.", login_sc.server_name, "", 0);
        put_loginack(out, 6, login_sc.server_name);
        put_done(out, kTokDone, kDoneError, 0);
        c->send_tokens(out, true);
        // Let the client read the refusal before the socket goes away.
        c->wait_readable(2000);
        return;
    }
    put_envchange(out, 1, c->database, "");
    put_envchange(out, 2, "us_english", "");
    put_loginack(out, 5, login_sc.server_name);
    // CAPABILITY: the client's own request and response bitmaps, echoed.
    const size_t cap = 568;
    if (msg.size() >= cap + 3 && msg[cap] == kTokCapability) {
        size_t len = msg[cap + 1] | (static_cast<size_t>(msg[cap + 2]) << 8);
        if (cap + 3 + len <= msg.size())
            out.insert(out.end(), msg.begin() + cap,
                       msg.begin() + static_cast<long>(cap + 3 + len));
    }
    put_done(out, kTokDone, 0, 0);
    if (!c->send_tokens(out, true)) return;

    const int spid = 10 + c->id;
    for (;;) {
        if (!c->read_message(type, msg)) return;
        if (stopping_) return;
        if (type == kPacketAttention) {
            record(LogEntry{LogEntry::Attention, c->id, {}, {}, {}, {}, {}, {}, {}});
            out.clear();
            put_done(out, kTokDone, kDoneAttention, 0);
            if (!c->send_tokens(out, true)) return;
            continue;
        }
        held = scenario_now(&values);
        scp = held.get();
        const Scenario& sc = *scp;
        out.clear();
        LogEntry e;
        e.connection = c->id;
        std::string error;
        bool ok = true, rpc = false, logout = false;
        if (type == kPacketLanguage) {
            e.kind = LogEntry::Batch;
            e.text.assign(msg.begin(), msg.end());
        } else if (type == kPacketTokens) {
            Reader r(msg.data(), msg.size());
            uint8_t tok = r.u8();
            if (tok == kTokLanguage) {
                uint32_t len = r.u32();
                uint8_t status = r.u8();
                e.kind = LogEntry::Batch;
                e.text = len >= 1 ? r.str(len - 1) : std::string();
                if (status & 0x01) ok = read_params(r, e.params, error);
            } else if (tok == kTokDbRpc) {
                r.u16();
                e.kind = LogEntry::Rpc;
                e.text = r.str(r.u8());
                uint16_t options = r.u16();
                rpc = true;
                if (options & 0x02) ok = read_params(r, e.params, error);
            } else if (tok == kTokLogout) {
                e.kind = LogEntry::Logout;
                logout = true;
            } else {
                ok = false;
                error = "token " + std::to_string(tok) + " not understood";
            }
            if (r.bad && ok) {
                ok = false;
                error = "request shorter than its lengths";
            }
        } else {
            ok = false;
            error = "packet type " + std::to_string(type) + " not understood";
        }
        if (!ok) {
            e.kind = LogEntry::Unknown;
            e.text = error;
            record(e);
            put_eed(out, 99002, 1, 16, "zovtds: " + error, sc.server_name, "", 1);
            put_done(out, kTokDone, kDoneError, 0);
            if (!c->send_tokens(out, true)) return;
            continue;
        }
        record(e);
        if (logout) {
            put_done(out, kTokDone, 0, 0);
            c->send_tokens(out, true);
            return;
        }
        const Entry* en = nullptr;
        std::string norm = normalise_sql(e.text);
        if (rpc)
            en = find_rpc(sc, e.text, e.params);
        else
            en = find_batch(sc, norm);
        if (en == nullptr) {
            if (!rpc && builtin_answer(norm, spid, c->database, out)) {
                if (!c->send_tokens(out, true)) return;
                continue;
            }
            if (rpc)
                put_eed(out, 2812, 5, 16, "Stored procedure '" + e.text + "' not found.",
                        sc.server_name, "", 1);
            else
                put_eed(out, 99001, 1, 16, "zovtds: statement not in the scenario: " + norm,
                        sc.server_name, "", 1);
            put_done(out, kTokDone, kDoneError, 0);
            if (!c->send_tokens(out, true)) return;
            continue;
        }

        // Walks the steps; tokens are flushed before a delay or a drop, so that whatever
        // reached the client ends at a token boundary.
        const Answer& a = en->answer;
        ValueContext vctx;
        vctx.n = values->begin_answer(*en);
        vctx.tod = seconds_of_day_now();
        vctx.state = values.get();
        bool value_fault = false;  // a value that no longer fits its column ({A+Bn} grown)
        bool attention = false;
        size_t result_done_at = SIZE_MAX;  // offset in `out` of the last result's DONE
        const std::string proc = rpc ? e.text : std::string();
        // An answer with a return status is a procedure's answer: its result sets end
        // with DONEINPROC and the status comes before DONEPROC; in a batch a DONE follows.
        const bool in_proc = rpc || a.has_status;
        for (const auto& st : a.steps) {
            if (c->wait_readable(0) == 1) {
                // Only an attention may come while a response is under way.
                if (!c->read_message(type, msg)) return;
                if (type == kPacketAttention) {
                    attention = true;
                    break;
                }
            }
            result_done_at = SIZE_MAX;
            if (st.kind == Step::Result) {
                put_format(out, st.columns, false);
                int32_t sent_rows = 0;
                size_t next_break = 0;
                bool dropped = false;
                for (size_t r = 0; r < st.rows.size() && !attention && !dropped; ++r) {
                    for (; next_break < st.breaks.size() && st.breaks[next_break].before_row == r;
                         ++next_break) {
                        // Rows so far reach the client; the result goes on after the pause.
                        if (!c->send_tokens(out, false)) return;
                        out.clear();
                        if (st.breaks[next_break].drop) {
                            dropped = true;
                            break;
                        }
                        if (c->wait_readable(st.breaks[next_break].delay_ms) != 0) {
                            if (!c->read_message(type, msg)) return;
                            if (type == kPacketAttention) {
                                attention = true;
                                break;
                            }
                        }
                    }
                    if (attention || dropped) break;
                    const auto& row = st.rows[r];
                    for (int64_t i = 0; i < st.repeat[r] && !value_fault; ++i) {
                        const size_t row_at = out.size();
                        put_u8(out, kTokRow);
                        vctx.i = i;
                        for (size_t k = 0; k < st.columns.size() && !value_fault; ++k) {
                            const Value& v = row[k];
                            value_fault =
                                !(v.parts.empty()
                                      ? put_value(out, st.columns[k], v.is_null, v.text, error)
                                      : put_value(out, st.columns[k], v.is_null,
                                                  expand_value(v, vctx), error));
                        }
                        if (value_fault) {
                            out.resize(row_at);  // the row goes unsent, the stream stays whole
                            break;
                        }
                        ++sent_rows;
                        if (out.size() >= 64 * 1024) {
                            if (!c->send_tokens(out, false)) return;
                            out.clear();
                        }
                    }
                }
                if (dropped) return;
                if (attention) break;
                if (value_fault) {
                    put_eed(out, 99003, 1, 16, "zovtds: " + error, sc.server_name, proc, 1);
                    put_done(out, in_proc ? kTokDoneInProc : kTokDone,
                             static_cast<uint16_t>(kDoneMore | kDoneCount | kDoneError |
                                                   (in_proc ? kDoneInProc : 0)),
                             sent_rows);
                    break;
                }
                result_done_at = out.size();
                put_done(
                    out, in_proc ? kTokDoneInProc : kTokDone,
                    static_cast<uint16_t>(kDoneMore | kDoneCount | (in_proc ? kDoneInProc : 0)),
                    sent_rows);
            } else if (st.kind == Step::Message) {
                put_eed(out, st.number, static_cast<uint8_t>(st.state),
                        static_cast<uint8_t>(st.severity), st.text, sc.server_name, proc, 1);
            } else if (st.kind == Step::Delay) {
                if (!out.empty() && !c->send_tokens(out, false)) return;
                out.clear();
                result_done_at = SIZE_MAX;
                int w = c->wait_readable(st.delay_ms);
                if (w != 0) {
                    if (!c->read_message(type, msg)) return;  // the client gave up
                    if (type == kPacketAttention) {
                        attention = true;
                        break;
                    }
                }
            } else if (st.kind == Step::Drop) {
                if (!out.empty()) c->send_tokens(out, false);
                return;
            }
        }
        if (attention) {
            record(LogEntry{LogEntry::Attention, c->id, {}, {}, {}, {}, {}, {}, {}});
            if (!out.empty() && !c->send_tokens(out, false)) return;
            out.clear();
            put_done(out, kTokDone, kDoneAttention, 0);
            if (!c->send_tokens(out, true)) return;
            continue;
        }
        if (a.has_status) put_return_status(out, a.status);
        if (!a.out_params.empty()) {
            std::vector<ColumnFormat> fmts;
            for (const auto& p : a.out_params) fmts.push_back(p.format);
            put_format(out, fmts, true);
            put_u8(out, kTokParams);
            for (const auto& p : a.out_params)
                put_value(out, p.format, p.value.is_null, p.value.text, error);
        }
        const bool fail = a.fail || value_fault;
        if (!in_proc && !fail && a.out_params.empty() && result_done_at != SIZE_MAX) {
            // A batch that ends with a result set ends with that result's DONE, as a
            // server does for a plain select.
            out[result_done_at + 1] &= static_cast<uint8_t>(~kDoneMore);
        } else {
            if (in_proc && !rpc)
                put_done(out, kTokDoneProc, kDoneMore | (fail ? kDoneError : 0), 0);
            put_done(out, rpc ? kTokDoneProc : kTokDone, fail ? kDoneError : 0, 0);
        }
        if (!c->send_tokens(out, true)) return;
    }
}

}  // namespace zovtds
