#include <gtest/gtest.h>

#include <string>

#include "runtime/files.h"
#include "testing/case_names.h"

namespace {

struct PfilenCase {
    const char* path;
    const char* dir;
    const char* dir_slash;
    const char* base;
    const char* ext;
    const char* file;
};

class PfilenTest : public ::testing::TestWithParam<PfilenCase> {};

TEST_P(PfilenTest, SplitsPath) {
    const PfilenCase& c = GetParam();
    char dir[1023], dir_slash[1023], base[1023], ext[1023], file[1023];
    char* last = u_pfilen(c.path, dir, dir_slash, base, ext, file);
    EXPECT_EQ(last, dir);
    EXPECT_STREQ(dir, c.dir);
    EXPECT_STREQ(dir_slash, c.dir_slash);
    EXPECT_STREQ(base, c.base);
    EXPECT_STREQ(ext, c.ext);
    EXPECT_STREQ(file, c.file);
}

INSTANTIATE_TEST_SUITE_P(
    Paths, PfilenTest,
    ::testing::Values(PfilenCase{"/usr/src/zovutil.c", "/usr/src", "/usr/src/", "zovutil", "c",
                                 "zovutil.c"},
                      PfilenCase{"zovutil.c", "", "", "zovutil", "c", "zovutil.c"},
                      PfilenCase{"a/b.tar.gz", "a", "a/", "b.tar", "gz", "b.tar.gz"},
                      PfilenCase{"dir\\name", "dir", "dir\\", "name", "", "name"},
                      PfilenCase{" 'x/y.z'\n", "x", "x/", "y", "z", "y.z"},
                      // A separator in the first position does not start a directory part.
                      PfilenCase{"/abc", "", "", "/abc", "", "/abc"},
                      PfilenCase{"d/", "d", "d/", "", "", ""}),
    case_names(&PfilenCase::path));

TEST(Pfilen, ResultIsLastOutputFilled) {
    char base[1023], file[1023];
    EXPECT_EQ(u_pfilen("a/b.c", nullptr, nullptr, base, nullptr, file), base);
    EXPECT_EQ(u_pfilen("a/b.c", nullptr, nullptr, nullptr, nullptr, file), file);
    EXPECT_EQ(u_pfilen("a/b.c", nullptr, nullptr, nullptr, nullptr, nullptr), nullptr);
    EXPECT_EQ(u_pfilen(nullptr, nullptr, nullptr, base, nullptr, nullptr), nullptr);
    EXPECT_EQ(u_pfilen("", nullptr, nullptr, base, nullptr, nullptr), nullptr);
}

TEST(Pfilen, LongPathIsCutAtItsWorkingCopy) {
    std::string path(2000, 'a');
    char file[1023];
    ASSERT_EQ(u_pfilen(path.c_str(), nullptr, nullptr, nullptr, nullptr, file), file);
    EXPECT_EQ(std::string(file).size(), 1022u);
}

}  // namespace
