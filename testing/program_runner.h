// Running a program of ours (or any other) as a child of a test: its arguments, its whole
// environment, its standard input (bytes, or a file) and a deadline in; its exit status,
// standard output and standard error out, or its standard output read while it runs. The
// child leads a process group of its own, so that at the deadline (or when a started
// program is dropped) it ends with everything it started, and it is always reaped.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <initializer_list>
#include <string>
#include <thread>
#include <vector>

namespace testprog {

using std::chrono::milliseconds;

// What to run and how.
struct program {
    std::string path;               // the file executed
    std::vector<std::string> args;  // the words after argv[0]
    std::string argv0;              // argv[0]; the path when empty
    std::vector<std::string> env;   // the whole environment, as it stands (nothing added)
    std::string input;              // standard input: these bytes, then end of file
    std::string dir;                // working directory; the test's when empty
    // When set, standard output and error both go to this file (made afresh) instead of
    // being captured: for a program that runs on while the test reads its files.
    std::string output_file;
    bool merge_stderr = false;     // standard error joins the captured standard output
    milliseconds deadline{60000};  // from the start; then the group is killed
    // When set, standard input is this file (opened for reading) instead of the bytes of
    // input: a directory here makes every read of it fail.
    std::string input_path;
};

struct program_result {
    int status = -1;         // exit status, 100 + the signal that ended it; -1 not started
    int signal = 0;          // the signal that ended it; 0 when it exited
    bool timed_out = false;  // the deadline passed and the group was killed
    std::string out;         // standard output (with standard error when merged)
    std::string err;         // standard error
};

// Exit statuses of the child when it cannot become the program.
constexpr int no_working_dir = 126;
constexpr int exec_failed = 127;

// The status convention of these tests: exit status, or 100 + signal.
inline int status_of(int wait_status) {
    return WIFEXITED(wait_status) ? WEXITSTATUS(wait_status) : 100 + WTERMSIG(wait_status);
}

// The argument and environment vectors of a program, made before a fork: the child of a
// process that runs threads (the scripted server) must not allocate.
class exec_vectors {
  public:
    explicit exec_vectors(const program& p)
        : words_{p.argv0.empty() ? p.path : p.argv0}, env_(p.env) {
        words_.insert(words_.end(), p.args.begin(), p.args.end());
        for (auto& w : words_) argv_.push_back(w.data());
        argv_.push_back(nullptr);
        for (auto& e : env_) envp_.push_back(e.data());
        envp_.push_back(nullptr);
    }
    // In the child: changes to dir (when given) and becomes the program. Never returns.
    [[noreturn]] void exec(const char* path, const char* dir) {
        if (dir != nullptr && *dir != '\0' && chdir(dir) != 0) _exit(no_working_dir);
        execve(path, argv_.data(), envp_.data());
        _exit(exec_failed);
    }

  private:
    std::vector<std::string> words_;
    std::vector<std::string> env_;
    std::vector<char*> argv_, envp_;
};

// In a forked child whose descriptors are set up: changes to p.dir and becomes the
// program with exactly p.env. Never returns.
[[noreturn]] inline void exec_program(const program& p) {
    exec_vectors(p).exec(p.path.c_str(), p.dir.c_str());
}

// One program started as a child. Dropping it ends the child's group and reaps the child.
class started_program {
  public:
    started_program() = default;
    ~started_program() { stop(); }
    started_program(const started_program&) = delete;
    started_program& operator=(const started_program&) = delete;

    // Forks and execs p; false when the fork or a pipe failed.
    bool start(const program& p) {
        stop();
        deadline_ = std::chrono::steady_clock::now() + p.deadline;
        status_ = -1;
        signal_ = 0;
        out_.clear();
        err_.clear();
        timed_out_ = false;
        // Standard input is the named file, else an anonymous file holding the bytes: the
        // child reads it at its own pace, no write can block or raise SIGPIPE here.
        const int in = p.input_path.empty() ? memfd_create("stdin", MFD_CLOEXEC)
                                            : open(p.input_path.c_str(), O_RDONLY | O_CLOEXEC);
        if (in < 0) return false;
        if (p.input_path.empty() && !p.input.empty() &&
            write(in, p.input.data(), p.input.size()) != static_cast<ssize_t>(p.input.size())) {
            close(in);
            return false;
        }
        if (p.input_path.empty()) lseek(in, 0, SEEK_SET);
        int out[2] = {-1, -1}, err[2] = {-1, -1};
        if (p.output_file.empty()) {
            if (pipe2(out, O_CLOEXEC) != 0 || (!p.merge_stderr && pipe2(err, O_CLOEXEC) != 0)) {
                close_all({in, out[0], out[1]});
                return false;
            }
        }
        exec_vectors vectors(p);
        pid_ = fork();
        if (pid_ < 0) {
            close_all({in, out[0], out[1], err[0], err[1]});
            return false;
        }
        if (pid_ == 0) {
            setpgid(0, 0);
            dup2(in, 0);
            if (!p.output_file.empty()) {
                const int fd =
                    open(p.output_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
                dup2(fd, 1);
                dup2(fd, 2);
            } else {
                dup2(out[1], 1);
                dup2(p.merge_stderr ? out[1] : err[1], 2);
            }
            vectors.exec(p.path.c_str(), p.dir.c_str());
        }
        // Both sides set the group: whichever runs first, it exists before a kill.
        setpgid(pid_, pid_);
        close_all({in, out[1], err[1]});
        out_fd_ = out[0];
        err_fd_ = err[0];
        return true;
    }

    pid_t pid() const { return pid_; }

    // Reads the child's standard output while it runs on, until it holds mark (true), or
    // the output ends or the deadline passes (false). What was read is out() and stays part
    // of what finish gives. For a program started without output_file.
    bool read_until(const std::string& mark) {
        return pump([&] { return out_.find(mark) != std::string::npos; }, {});
    }
    // The standard output read so far.
    const std::string& out() const { return out_; }

    // Reads the child's output until it ends, then reaps it; at the deadline kills its
    // group. on_output, when given, sees the standard output gathered so far after each
    // read. For a program started without output_file.
    program_result finish(const std::function<void(const std::string&)>& on_output = {}) {
        program_result r;
        pump({}, on_output);
        r.timed_out = timed_out_;
        close_all({out_fd_, err_fd_});
        out_fd_ = err_fd_ = -1;
        const int before = wait_until_deadline();
        if (before == -1) r.timed_out = true;
        r.status = r.timed_out ? stop() : before;
        r.signal = signal_;
        r.out = std::move(out_);
        r.err = std::move(err_);
        out_.clear();
        err_.clear();
        return r;
    }

    // The child's status when it ends within `within` (reaped then), -1 while it runs on.
    // Once reaped, the same status again.
    int wait_exit(milliseconds within) {
        if (pid_ <= 0) return status_;
        const auto end = std::chrono::steady_clock::now() + within;
        for (;;) {
            int st = 0;
            if (waitpid(pid_, &st, WNOHANG) == pid_) {
                pid_ = -1;
                note(st);
                return status_;
            }
            if (std::chrono::steady_clock::now() >= end) return -1;
            std::this_thread::sleep_for(milliseconds(10));
        }
    }

    // Kills the child's group (SIGKILL) when it still runs and reaps the child; its status.
    int stop() {
        close_all({out_fd_, err_fd_});
        out_fd_ = err_fd_ = -1;
        if (pid_ > 0) {
            kill(-pid_, SIGKILL);
            kill(pid_, SIGKILL);  // should its own group not have been made
            int st = 0;
            while (waitpid(pid_, &st, 0) < 0 && errno == EINTR) {
            }
            note(st);
            pid_ = -1;
        }
        return status_;
    }

    // The signal that ended the child; 0 while it runs or when it exited.
    int signal() const { return signal_; }

  private:
    // Reads output until stop (when given) holds (true), or both streams end or the
    // deadline passes (false; timed_out_ set at the deadline).
    bool pump(const std::function<bool()>& stop,
              const std::function<void(const std::string&)>& on_output) {
        while (out_fd_ >= 0 || err_fd_ >= 0) {
            if (stop && stop()) return true;
            pollfd fds[2];
            int n = 0;
            if (out_fd_ >= 0) fds[n++] = {out_fd_, POLLIN, 0};
            if (err_fd_ >= 0) fds[n++] = {err_fd_, POLLIN, 0};
            const long left = left_ms();
            if (left <= 0) {
                timed_out_ = true;
                return false;
            }
            const int ready = poll(fds, static_cast<nfds_t>(n), static_cast<int>(left));
            if (ready < 0 && errno == EINTR) continue;
            if (ready <= 0) continue;  // the deadline is checked above
            for (int i = 0; i < n; ++i) {
                if (fds[i].revents == 0) continue;
                const bool is_out = fds[i].fd == out_fd_;
                std::string& into = is_out ? out_ : err_;
                if (!read_some(is_out ? out_fd_ : err_fd_, into)) continue;
                if (is_out && on_output) on_output(out_);
            }
        }
        return stop && stop();
    }
    void note(int wait_status) {
        status_ = status_of(wait_status);
        signal_ = WIFSIGNALED(wait_status) ? WTERMSIG(wait_status) : 0;
    }
    long left_ms() const {
        return static_cast<long>(
            std::chrono::duration_cast<milliseconds>(deadline_ - std::chrono::steady_clock::now())
                .count());
    }
    // The child's status when it ends before the deadline, else -1.
    int wait_until_deadline() {
        const long left = left_ms();
        return wait_exit(milliseconds(left > 0 ? left : 0));
    }
    // False at the end of the stream (the descriptor is then closed).
    static bool read_some(int& fd, std::string& into) {
        char buf[65536];
        const ssize_t n = read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR) return false;
        if (n <= 0) {
            close(fd);
            fd = -1;
            return false;
        }
        into.append(buf, static_cast<size_t>(n));
        return true;
    }
    static void close_all(std::initializer_list<int> fds) {
        for (int fd : fds)
            if (fd >= 0) close(fd);
    }

    pid_t pid_ = -1;
    int status_ = -1;
    int signal_ = 0;
    int out_fd_ = -1;
    int err_fd_ = -1;
    std::string out_, err_;   // read so far
    bool timed_out_ = false;  // the deadline passed while reading
    std::chrono::steady_clock::time_point deadline_{};
};

// Runs p to its end (or its deadline); never leaves the child behind.
inline program_result run_program(const program& p,
                                  const std::function<void(const std::string&)>& on_output = {}) {
    started_program child;
    if (!child.start(p)) return {};
    return child.finish(on_output);
}

// The test process's whole environment, "NAME=value" each: for a program that runs as the
// test would run it from its shell.
inline std::vector<std::string> own_env() {
    std::vector<std::string> out;
    for (char** e = environ; e != nullptr && *e != nullptr; ++e) out.emplace_back(*e);
    return out;
}

// The test process's own value of each named variable, "NAME=value", for those set.
inline std::vector<std::string> inherited_env(std::initializer_list<const char*> names) {
    std::vector<std::string> out;
    for (const char* name : names)
        if (const char* v = getenv(name)) out.push_back(std::string(name) + "=" + v);
    return out;
}

}  // namespace testprog
