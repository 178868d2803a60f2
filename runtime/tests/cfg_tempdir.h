// A scratch directory for tests, removed with everything in it at the end of its scope.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

class CfgTempDir {
  public:
    CfgTempDir() {
        std::string templ = std::filesystem::temp_directory_path().string() + "/zovcfgXXXXXX";
        char* made = mkdtemp(templ.data());
        path_ = made ? made : "";
    }
    ~CfgTempDir() {
        std::error_code ec;
        if (!path_.empty()) std::filesystem::remove_all(path_, ec);
    }
    CfgTempDir(const CfgTempDir&) = delete;
    CfgTempDir& operator=(const CfgTempDir&) = delete;

    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "/" + name; }

    // Writes a file (directories on the way are created) with the mode; returns its path.
    std::string write(const std::string& name, const std::string& text, mode_t mode = 0644) const {
        std::string p = *this / name;
        std::filesystem::create_directories(std::filesystem::path(p).parent_path());
        {
            std::ofstream out(p, std::ios::binary | std::ios::trunc);
            out << text;
        }
        chmod(p.c_str(), mode);
        return p;
    }

  private:
    std::string path_;
};

// Reads a whole file; empty when it cannot be read.
inline std::string cfg_read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Runs the death tests of a scope in a freshly started copy of the test program (the
// state a process fixes on first use starts over), restoring the style afterwards.
class CfgFreshProcessDeathTests {
  public:
    CfgFreshProcessDeathTests() : saved_(GTEST_FLAG_GET(death_test_style)) {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
    }
    ~CfgFreshProcessDeathTests() { GTEST_FLAG_SET(death_test_style, saved_); }
    CfgFreshProcessDeathTests(const CfgFreshProcessDeathTests&) = delete;
    CfgFreshProcessDeathTests& operator=(const CfgFreshProcessDeathTests&) = delete;

  private:
    std::string saved_;
};
