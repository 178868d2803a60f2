// A scripted TDS 5.0 server for tests and the demo.
//
// Listens on 127.0.0.1 (a given port, or a free one chosen by the kernel and reported by
// port()), accepts any number of connections, one thread each, and answers logins,
// language batches, RPCs and attentions from a Scenario. Every login, batch, RPC,
// attention and logout is recorded in an in-memory log (and, when set, written to a
// stream, one line each, without passwords). Tests start it in-process; the program
// `zovtds` wraps it for scripts.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "tests/tds/tds_scenario.h"

namespace zovtds {

// One request the server received.
struct LogEntry {
    enum Kind { Login, LoginRefused, Batch, Rpc, Attention, Logout, Unknown } kind = Batch;
    int connection = 0;  // 1, 2, ... in order of acceptance
    // Login: as the client sent them (the password is kept for tests, never written out).
    std::string user, password, app, host, library;
    // Batch: the text as received; Rpc: the procedure name; Unknown: a description.
    std::string text;
    std::vector<RpcParam> params;  // Rpc
};

// The log line of an entry (no password), as written to the log stream.
std::string log_line(const LogEntry& e);

// The last call of procedure name in log, or null.
const LogEntry* last_rpc(const std::vector<LogEntry>& log, const std::string& name);

class Server {
  public:
    Server();
    ~Server();  // stops the server
    Server(const Server&) = delete;
    Server& operator=(const Server&) = delete;

    // Starts listening on 127.0.0.1:port (0: a free port) with the scenario. False with
    // `error` set when the socket cannot be set up or the server already runs.
    bool start(const Scenario& scenario, int port, std::string& error);
    // Closes the listener and every connection and joins all threads.
    void stop();
    // The port listened on (0 before start).
    int port() const { return port_; }

    // Replaces the scenario; requests after the call use the new one, with answer counts
    // from 1 and its {rand} sequence from the start.
    void set_scenario(const Scenario& scenario);
    // Writes one line per log entry to the stream as well (null: none).
    void set_log_stream(FILE* stream);

    std::vector<LogEntry> log() const;
    void clear_log();
    // Waits until the predicate holds for the log, at most timeout_ms; returns whether it held.
    bool wait_for(const std::function<bool(const std::vector<LogEntry>&)>& pred,
                  int timeout_ms) const;
    // Number of connections open at the moment.
    int open_connections() const { return open_.load(); }

    // Writes `path` as a freetds.conf with one section `section` naming this server
    // (tds version 5.0). False when the file cannot be written.
    bool write_freetds_conf(const std::string& path, const std::string& section) const;

  private:
    struct Connection;
    void accept_loop();
    void serve(std::shared_ptr<Connection> c);
    void record(LogEntry e);
    // The scenario in force and the state of its value forms; a request keeps the ones it
    // started with.
    std::shared_ptr<const Scenario> scenario_now(std::shared_ptr<ValueState>* values) const;

    mutable std::mutex mu_;
    mutable std::condition_variable cv_;
    std::shared_ptr<const Scenario> scenario_;
    std::shared_ptr<ValueState> values_;
    std::vector<LogEntry> log_;
    FILE* log_stream_ = nullptr;
    int listen_fd_ = -1;
    int wake_pipe_[2] = {-1, -1};
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> open_{0};
    int next_id_ = 0;
    std::thread acceptor_;
    std::vector<std::thread> workers_;
    std::vector<std::shared_ptr<Connection>> conns_;
};

}  // namespace zovtds
