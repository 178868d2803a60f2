// Test aids for the definition-file readers: feeding a reader a text or a fixture file,
// and placing a definition file where the file search finds it.
#pragma once

#include <cstdio>
#include <string>

#include "runtime/env.h"
#include "testing/temp_dir.h"

namespace deftest {

// Runs a reader of an open file on the text.
inline int parse_text(int (*reader)(FILE*), const std::string& text) {
    std::string copy = text.empty() ? std::string(" ") : text;
    FILE* f = fmemopen(copy.data(), copy.size(), "r");
    if (f == nullptr) return -1;
    int rc = reader(f);
    std::fclose(f);
    return rc;
}

// Runs a reader on the text written one statement per line: each "; " of the text ends a
// line.
inline int parse_lines(int (*reader)(FILE*), const std::string& text) {
    std::string file;
    for (size_t i = 0; i < text.size(); ++i) {
        file += text[i];
        if (text[i] == ';' && i + 1 < text.size() && text[i + 1] == ' ') {
            file += '\n';
            ++i;
        }
    }
    return parse_text(reader, file);
}

// Path of a fixture under defs/tests/data.
inline std::string fixture(const std::string& name) {
    return std::string(ZOV_SOURCE_DIR) + "/defs/tests/data/" + name;
}

// Runs a reader on a fixture file.
inline int parse_fixture(int (*reader)(FILE*), const std::string& name) {
    FILE* f = std::fopen(fixture(name).c_str(), "r");
    if (f == nullptr) return -1;
    int rc = reader(f);
    std::fclose(f);
    return rc;
}

// Points the definition-file search at a scratch directory for the life of the object;
// write() places a definition file ("proc", "dict", ...) there under the name the search
// looks for.
class definition_home {
  public:
    definition_home() : saved_home_(env_vars.coll_home), saved_ctl_(env_vars.ctl_home) {
        env_vars.coll_home = const_cast<char*>(dir_.path().c_str());
        env_vars.ctl_home = const_cast<char*>(dir_.path().c_str());
    }
    ~definition_home() {
        env_vars.coll_home = saved_home_;
        env_vars.ctl_home = saved_ctl_;
    }
    definition_home(const definition_home&) = delete;
    definition_home& operator=(const definition_home&) = delete;

    void write(const std::string& kind, const std::string& text) {
        dir_.write(std::string(u_db_type(0)) + kind + ".ctl", text);
    }

  private:
    CfgTempDir dir_;
    char* saved_home_;
    char* saved_ctl_;
};

}  // namespace deftest
