// Private scratch directories for tests, under test_temp_root() ($TMPDIR when it is set and
// short, else /tmp), each removed with everything in it at the end of its scope.
#pragma once

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/tds/temp_root.h"

// A mkdtemp/mkstemp template "<root>/<stem>XXXXXX" under test_temp_root().
inline std::string test_temp_template(const std::string& stem) {
    return test_temp_root() + "/" + stem + "XXXXXX";
}

// A death test of the "threadsafe" style runs the whole test again in a fresh copy of the
// program, which would make a scratch directory of its own and then end inside the
// statement, where nothing removes it. So the parent publishes each scratch directory of a
// test in its environment, and the child, creating the same directories in the same order,
// takes the parent's instead of making new ones.
inline std::string cfg_scratch_key() {
    static std::string test;
    static int count = 0;
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    std::string name = info ? std::string(info->test_suite_name()) + "." + info->name() : "";
    if (name != test) {
        test = name;
        count = 0;
    }
    std::string key = "ZOV_TEST_SCRATCH_";
    for (char c : name) key += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    key += "_" + std::to_string(count++);
    return key;
}

// Makes a directory from a mkdtemp template (the parent's directory in a death-test child).
inline std::string cfg_make_scratch_dir(std::string templ) {
    const std::string key = cfg_scratch_key();
    if (!GTEST_FLAG_GET(internal_run_death_test).empty()) {
        if (const char* dir = std::getenv(key.c_str())) return dir;
    }
    char* made = mkdtemp(templ.data());
    if (!made) return "";
    setenv(key.c_str(), made, 1);
    return made;
}

class CfgTempDir {
  public:
    CfgTempDir() { path_ = cfg_make_scratch_dir(test_temp_template("zovcfg")); }
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
