// Where tests put their private scratch directories: the scripted test server's
// environment makes its directory here, and testing/temp_dir.h takes it from here too.
#pragma once

#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

// The longest $TMPDIR that scratch directories go under. The collector's and zovprobe's
// named pipes live in the directory a test names as COLL_PREFIX, and a pipe path holds at
// most 99 characters: the directory, then "prb_", the server, version and host names and
// 40 characters of time, process id and counter. A directory of 16 characters plus a
// mkdtemp name leaves room for the names the tests use.
inline constexpr size_t kTestTempRootMax = 16;

// The directory scratch directories go under: $TMPDIR when it is set and short enough for
// pipe names, else /tmp (each scratch directory is made 0700 by mkdtemp, so it is private
// wherever it lies). A long $TMPDIR is kept only when /tmp cannot be written.
inline std::string test_temp_root() {
    std::error_code ec;
    std::string root = std::filesystem::temp_directory_path(ec).string();
    if (ec || root.empty()) root = "/tmp";
    while (root.size() > 1 && root.back() == '/') root.pop_back();
    if (root.size() > kTestTempRootMax && access("/tmp", W_OK | X_OK) == 0) root = "/tmp";
    return root;
}
