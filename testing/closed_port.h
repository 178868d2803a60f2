// A server name whose port refuses connections, for tests of a server that cannot be
// reached: a socket bound on 127.0.0.1 that never listens (so no other process takes the
// port while the test runs), and a section for it appended to a freetds.conf.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fstream>
#include <string>

class ClosedPort {
  public:
    // Appends section `name` for the port to the FreeTDS configuration at conf_path.
    ClosedPort(const std::string& conf_path, const std::string& name) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) != 0)
            return;
        std::ofstream conf(conf_path, std::ios::app);
        conf << "\n[" << name << "]\n\thost = 127.0.0.1\n\tport = " << ntohs(a.sin_port)
             << "\n\ttds version = 5.0\n";
        ready_ = static_cast<bool>(conf);
    }
    ~ClosedPort() {
        if (fd_ >= 0) close(fd_);
    }
    ClosedPort(const ClosedPort&) = delete;
    ClosedPort& operator=(const ClosedPort&) = delete;
    bool ready() const { return ready_; }

  private:
    int fd_ = -1;
    bool ready_ = false;
};
