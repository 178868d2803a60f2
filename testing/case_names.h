// Readable names for the cases of a parameterised suite: "<index>_<what the case holds>",
// e.g. "3_12_31_1999_23_59", so that a case can be found in a report and picked with
// `ctest -R` (the default names of struct cases are their raw bytes, heap addresses and all).
#pragma once

#include <gtest/gtest.h>

#include <cctype>
#include <string>
#include <type_traits>

// A name part from any text: letters and digits kept, each run of other bytes one '_', at
// most 40 characters; "empty" for an empty text.
inline std::string case_name_part(const std::string& text) {
    std::string out;
    for (unsigned char c : text) {
        if (out.size() >= 40) break;
        if (std::isalnum(c)) {
            out += static_cast<char>(c);
        } else if (out.empty() || out.back() != '_') {
            out += '_';
        }
    }
    return out.empty() ? "empty" : out;
}

inline std::string case_text(const char* s) { return s ? s : "null"; }
inline std::string case_text(const std::string& s) { return s; }
inline std::string case_text(char c) { return std::string(1, c); }
template <class N>
requires std::is_arithmetic_v<N> std::string case_text(N n) { return std::to_string(n); }

// The name generator of a suite whose cases are structs: the index and one member.
template <class Case, class Field>
auto case_names(Field Case::*field) {
    return [field](const ::testing::TestParamInfo<Case>& info) {
        return std::to_string(info.index) + "_" + case_name_part(case_text(info.param.*field));
    };
}

// The same with two members, e.g. a subject and the pattern it is matched against.
template <class Case, class Field1, class Field2>
auto case_names(Field1 Case::*first, Field2 Case::*second) {
    return [first, second](const ::testing::TestParamInfo<Case>& info) {
        return std::to_string(info.index) + "_" + case_name_part(case_text(info.param.*first)) +
               "_" + case_name_part(case_text(info.param.*second));
    };
}

// The name generator of a suite whose cases are plain values (texts, numbers).
struct value_case_names {
    template <class T>
    std::string operator()(const ::testing::TestParamInfo<T>& info) const {
        return std::to_string(info.index) + "_" + case_name_part(case_text(info.param));
    }
};
