#include "runtime/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/alloc.h"
#include "runtime/trace.h"
#include "testing/case_names.h"
#include "testing/temp_dir.h"

namespace {

// ---- file_exists ---------------------------------------------------------------------

struct ExistsCase {
    const char* what;
    const char* content;  // null: no file; "/dir": a directory
    mode_t mode;
    int flags;
    int expected;
};

class FileExistsTest : public ::testing::TestWithParam<ExistsCase> {};

TEST_P(FileExistsTest, ResultCode) {
    const ExistsCase& c = GetParam();
    CfgTempDir dir;
    std::string p = dir / "f";
    if (c.content && std::strcmp(c.content, "/dir") == 0)
        mkdir(p.c_str(), c.mode);
    else if (c.content)
        dir.write("f", c.content, c.mode);
    EXPECT_EQ(file_exists(p.c_str(), c.flags), c.expected) << c.what;
}

INSTANTIATE_TEST_SUITE_P(Table, FileExistsTest,
                         ::testing::Values(ExistsCase{"missing", nullptr, 0, 0, 2},
                                           ExistsCase{"missing, exec test", nullptr, 0, 2, 2},
                                           ExistsCase{"directory", "/dir", 0755, 0, 3},
                                           ExistsCase{"empty file", "", 0755, 2, 1},
                                           ExistsCase{"plain file", "x", 0644, 0, 0},
                                           ExistsCase{"no execute bit", "x", 0644, 2, 5},
                                           ExistsCase{"owner execute", "x", 0744, 2, 0},
                                           ExistsCase{"only other execute", "x", 0641, 2, 0},
                                           ExistsCase{"owner never falls back to group", "x", 0654,
                                                      2, 4},
                                           ExistsCase{"verbose changes nothing", "x", 0654, 3, 4}),
                         case_names(&ExistsCase::what));

TEST(FileExists, GroupExecuteServesAnotherUserOfThatGroup) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to act as another user";
    CfgTempDir dir;
    chmod(dir.path().c_str(), 0755);
    std::string p = dir.write("tool", "#!/bin/sh\n", 0654);
    ASSERT_EQ(chown(p.c_str(), 0, 4242), 0);
    EXPECT_EQ(file_exists(p.c_str(), FE_EXEC), 4);  // the owner: owner bit only
    pid_t pid = fork();
    if (pid == 0) {
        if (setgid(4242) != 0 || setuid(65534) != 0) _exit(99);
        _exit(file_exists(p.c_str(), FE_EXEC));
    }
    int status = 0;
    waitpid(pid, &status, 0);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}

// ---- readfile and u_loadfile -----------------------------------------------------------

std::string take(char* buf) {
    std::string s = buf ? buf : "<null>";
    if (buf) {
        EXPECT_EQ(buf[s.size() + 1], '\0') << "second closing NUL";
        U_FREE(buf);
    }
    return s;
}

struct ReadCase {
    const char* text;
    uint16_t flags;
    char comment;
    const char* expected;
};

class ReadfileTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadfileTest, KeptText) {
    const ReadCase& c = GetParam();
    CfgTempDir dir;
    std::string p = dir.write("r.txt", c.text);
    EXPECT_EQ(take(readfile(p.c_str(), c.flags, c.comment)), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, ReadfileTest,
                         ::testing::Values(ReadCase{"a\nb\n", 0, '#', "a\nb\n"},
                                           ReadCase{"a\nb\n", 1 | 2, '#', "a b "},
                                           ReadCase{"a\n#c\nb\n", 1 | 2, '#', "a b "},
                                           ReadCase{"a\n\n\nb", 1, '#', "ab"},
                                           ReadCase{"a  \t\nb \n", 16, '#', "a\nb\n"},
                                           ReadCase{"a  \nb \n", 1 | 16 | 2, '#', "a b "},
                                           ReadCase{"  a\n\t#x\n b\n", 1 | 32 | 2, '#', "a b "},
                                           ReadCase{"  a\n", 1, ' ', ""}),
                         case_names(&ReadCase::text));

TEST(Readfile, KeepsOnlyTheFirst500Lines) {
    CfgTempDir dir;
    std::string text;
    for (int i = 0; i < 600; ++i) text += "x\n";
    std::string p = dir.write("many", text);
    EXPECT_EQ(take(readfile(p.c_str(), 1, '#')), std::string(500, 'x'));
}

TEST(Readfile, NothingToRead) {
    CfgTempDir dir;
    std::string empty = dir.write("empty", "");
    EXPECT_EQ(readfile(empty.c_str(), 1, '#'), nullptr);
    EXPECT_EQ(readfile((dir / "missing").c_str(), 1, '#'), nullptr);
    EXPECT_EQ(readfile("", 1, '#'), nullptr);
    EXPECT_EQ(readfile(nullptr, 1, '#'), nullptr);
}

TEST(LoadFile, LoadsWholeAndReportsTheSize) {
    CfgTempDir dir;
    std::string data("one\0two\nthree", 13);
    std::string p = dir.write("bin", data);
    char* out = reinterpret_cast<char*>(1);
    int32_t size = -5;
    char* buf = u_loadfile(p.c_str(), &out, &size);
    ASSERT_NE(buf, nullptr);
    EXPECT_EQ(out, buf);
    EXPECT_EQ(size, 13);
    EXPECT_EQ(std::string(buf, static_cast<size_t>(size)), data);
    EXPECT_EQ(buf[size], '\0');
    U_FREE(buf);
}

TEST(LoadFile, EmptyOrMissingGivesNull) {
    CfgTempDir dir;
    std::string empty = dir.write("empty", "");
    for (std::string p : {empty, dir / "missing", std::string()}) {
        char* out = reinterpret_cast<char*>(1);
        EXPECT_EQ(u_loadfile(p.c_str(), &out, nullptr), nullptr) << p;
        EXPECT_EQ(out, nullptr) << p;
    }
}

TEST(GetFileSize, SizeOrMinusOne) {
    CfgTempDir dir;
    EXPECT_EQ(get_file_size(dir.write("f", "12345").c_str()), 5);
    EXPECT_EQ(get_file_size((dir / "missing").c_str()), -1);
    EXPECT_EQ(get_file_size(dir.path().c_str()), -1);  // a directory has no size to read
    // Nor has a FIFO, and asking must not wait for a writer.
    std::string fifo = dir / "fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(get_file_size(fifo.c_str()), -1);
    EXPECT_EQ(u_loadfile(fifo.c_str(), nullptr, nullptr), nullptr);
}

// ---- directories ---------------------------------------------------------------------

TEST(MakeDir, CreatedExistsOrFailed) {
    CfgTempDir dir;
    std::string d = dir / "sub";
    mode_t old = umask(0);
    EXPECT_EQ(u_mkdir(d.c_str()), 1);
    umask(old);
    struct stat st;
    ASSERT_EQ(stat(d.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0764u);
    EXPECT_EQ(u_mkdir(d.c_str()), 2);
    EXPECT_EQ(u_mkdir((dir / "no/such/parent").c_str()), 0);
    EXPECT_EQ(is_directory(d.c_str()), 1);
    EXPECT_EQ(dir_exists(dir.write("file", "x").c_str()), 0);
    EXPECT_EQ(is_directory((dir / "missing").c_str()), 0);
}

// ---- uf_where ------------------------------------------------------------------------

class WhereTest : public ::testing::Test {
  protected:
    void SetUp() override {
        unsetenv("COLL_PATHEXT");
        uf_where(nullptr, nullptr, nullptr, nullptr);
        a_ = dir_ / "a";
        b_ = dir_ / "b";
        mkdir(a_.c_str(), 0755);
        mkdir(b_.c_str(), 0755);
    }
    void TearDown() override {
        unsetenv("COLL_PATHEXT");
        uf_where(nullptr, nullptr, nullptr, nullptr);
    }
    void tool(const std::string& path, mode_t mode = 0755) {
        std::string rel = path.substr(dir_.path().size() + 1);
        dir_.write(rel, "#!/bin/sh\n", mode);
    }
    void pathext(const char* value) {
        setenv("COLL_PATHEXT", value, 1);
        uf_where(nullptr, nullptr, nullptr, nullptr);
    }
    std::string where(const char* name, const std::string& list, int* pos = nullptr,
                      int* rc = nullptr) {
        char out[1024] = "";
        int r = uf_where(name, out, pos, list.c_str());
        if (rc) *rc = r;
        return r == 0 ? out : "<" + std::to_string(r) + ">";
    }
    CfgTempDir dir_;
    std::string a_, b_;
};

TEST_F(WhereTest, WalksTheListInOrder) {
    tool(b_ + "/tool");
    EXPECT_EQ(where("tool", a_ + ":" + b_ + "/"), b_ + "/tool");
    tool(a_ + "/tool");
    EXPECT_EQ(where("tool", a_ + ":" + b_ + "/"), a_ + "/tool");
    EXPECT_EQ(where("other", a_ + ":" + b_), "<1>");
}

TEST_F(WhereTest, SkipsFilesThatAreNotExecutable) {
    tool(a_ + "/tool", 0644);
    tool(b_ + "/tool");
    EXPECT_EQ(where("tool", a_ + ":" + b_), b_ + "/tool");
}

TEST_F(WhereTest, ContinuesBehindThePreviousHit) {
    tool(a_ + "/tool");
    tool(b_ + "/tool");
    std::string list = a_ + ":" + dir_.path() + ":" + b_;
    int pos = 0;
    EXPECT_EQ(where("tool", list, &pos), a_ + "/tool");
    EXPECT_EQ(pos, static_cast<int>(a_.size() + 1));
    EXPECT_EQ(where("tool", list, &pos), b_ + "/tool");
    EXPECT_EQ(pos, 0);  // the last segment was reached
    EXPECT_EQ(where("tool", list, &pos), a_ + "/tool");
    int rc = 0;
    pos = static_cast<int>(a_.size() + 1);
    EXPECT_EQ(where("none", list, &pos, &rc), "<1>");
    EXPECT_EQ(pos, 0);
}

TEST_F(WhereTest, ExtensionsAreTriedPerDirectory) {
    pathext(". .sh");
    tool(a_ + "/tool.sh");
    tool(b_ + "/tool");
    EXPECT_EQ(where("tool", a_ + ":" + b_), a_ + "/tool.sh");
    tool(a_ + "/tool");
    EXPECT_EQ(where("tool", a_ + ":" + b_), a_ + "/tool");  // the bare name first
}

TEST_F(WhereTest, ANameWithADotIsTriedBareOnly) {
    pathext(".sh");
    tool(a_ + "/tool.sh.sh");
    tool(b_ + "/tool.sh");
    EXPECT_EQ(where("tool.sh", a_ + ":" + b_), b_ + "/tool.sh");
}

TEST_F(WhereTest, ExtensionListSeparatorsAndCache) {
    pathext("::.ksh : .sh");
    tool(b_ + "/tool.sh");
    EXPECT_EQ(where("tool", a_ + ":" + b_), b_ + "/tool.sh");
    // The list is cached until released: a changed variable is not seen before that.
    setenv("COLL_PATHEXT", ".ksh", 1);
    EXPECT_EQ(where("tool", a_ + ":" + b_), b_ + "/tool.sh");
    uf_where(nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(where("tool", a_ + ":" + b_), "<1>");
}

TEST_F(WhereTest, EmptySegmentsAreSkipped) {
    // An empty segment would otherwise make "/tool" a candidate.
    tool(b_ + "/tool");
    EXPECT_EQ(where("tool", "::" + b_ + ":"), b_ + "/tool");
    EXPECT_EQ(where("tool", ":"), "<1>");
}

TEST_F(WhereTest, ANameWithASlashIsTestedAsItStands) {
    tool(a_ + "/tool");
    EXPECT_EQ(where((a_ + "/tool").c_str(), b_), a_ + "/tool");
    EXPECT_EQ(where((b_ + "/tool").c_str(), a_), "<1>");
}

TEST_F(WhereTest, PathIsTheDefaultList) {
    tool(b_ + "/tool");
    const char* old = getenv("PATH");
    std::string saved = old ? old : "";
    setenv("PATH", (a_ + ":" + b_).c_str(), 1);
    char out[1024] = "";
    EXPECT_EQ(uf_where("tool", out, nullptr, nullptr), 0);
    EXPECT_EQ(std::string(out), b_ + "/tool");
    EXPECT_EQ(uf_where("tool", out, nullptr, ""), 0);
    unsetenv("PATH");
    EXPECT_EQ(uf_where("tool", out, nullptr, nullptr), 2);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_EQ(uf_where(nullptr, out, nullptr, "x"), 2);
}

// ---- locks ---------------------------------------------------------------------------

TEST(Locks, AWriteLockKeepsAnotherProcessOut) {
    CfgTempDir dir;
    std::string p = dir.write("lock", "");
    FILE* fp = fopen(p.c_str(), "r+");
    ASSERT_NE(fp, nullptr);
    ASSERT_EQ(issue_write_lock(fp, "lock", 0), 0);

    auto other_process_tries = [&]() {
        pid_t pid = fork();
        if (pid == 0) {
            FILE* mine = fopen(p.c_str(), "r+");
            _exit(mine ? issue_write_lock(mine, "lock", 0) : 9);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    };
    EXPECT_EQ(other_process_tries(), 1);
    EXPECT_EQ(issue_unlock(fp, "lock", 0), 0);
    EXPECT_EQ(other_process_tries(), 0);
    fclose(fp);
    EXPECT_EQ(issue_write_lock(nullptr, "none", 0), 1);
}

TEST(Locks, WaitingLockIsGrantedWhenReleased) {
    CfgTempDir dir;
    std::string p = dir.write("lock", "");
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t pid = fork();
    if (pid == 0) {
        FILE* mine = fopen(p.c_str(), "r+");
        issue_write_lock(mine, "lock", 0);
        char c = 'x';
        (void)!write(ready[1], &c, 1);
        usleep(200 * 1000);
        _exit(0);  // the lock goes with the process
    }
    char c;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    FILE* fp = fopen(p.c_str(), "r+");
    EXPECT_EQ(issue_write_lock(fp, "lock", 0), 1);
    EXPECT_EQ(issue_write_lock(fp, "lock", 1), 0);
    int status = 0;
    waitpid(pid, &status, 0);
    fclose(fp);
    close(ready[0]);
    close(ready[1]);
}

// ---- uf_filestat and uf_dirstat --------------------------------------------------------

struct ModeCase {
    mode_t mode;
    const char* expected;
};

class FileStatTest : public ::testing::TestWithParam<ModeCase> {};

TEST_P(FileStatTest, TypeAndPermissions) {
    CfgTempDir dir;
    std::string p = dir.write("f", "hello", 0644);
    ASSERT_EQ(chmod(p.c_str(), GetParam().mode), 0);
    char type[11] = "";
    EXPECT_EQ(uf_filestat(p.c_str(), type, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(type, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Table, FileStatTest,
    ::testing::Values(ModeCase{0644, "frw-r--r--"}, ModeCase{0751, "frwxr-x--x"},
                      ModeCase{04644, "frwsr--r--"}, ModeCase{04755, "frwsr-xr-x"},
                      ModeCase{02755, "frwxr-sr-s"}, ModeCase{02744, "frwxr--r--"},
                      ModeCase{0, "f---------"}),
    case_names(&ModeCase::expected));

TEST(FileStat, OtherOutputs) {
    CfgTempDir dir;
    std::string p = dir.write("f", std::string(3000, 'x'), 0640);
    char type[11] = "";
    uint16_t mode = 0;
    int32_t kb = -1;
    uid_t uid = 1;
    gid_t gid = 1;
    time_t mtime = 0;
    EXPECT_EQ(uf_filestat(p.c_str(), type, &mode, &kb, &uid, &gid, &mtime), 0);
    EXPECT_STREQ(type, "f");  // no permissions when the mode is asked for
    EXPECT_EQ(mode & 07777, 0640);
    EXPECT_EQ(kb, 2);
    EXPECT_EQ(uid, geteuid());
    EXPECT_EQ(gid, getegid());
    EXPECT_GT(mtime, 0);

    EXPECT_EQ(uf_filestat(dir.path().c_str(), type, nullptr, nullptr, nullptr, nullptr, nullptr),
              0);
    EXPECT_EQ(type[0], 'd');
    std::string fifo = dir / "p";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_EQ(uf_filestat(fifo.c_str(), type, nullptr, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(type, "prw-------");
    EXPECT_EQ(
        uf_filestat((dir / "missing").c_str(), type, nullptr, nullptr, nullptr, nullptr, nullptr),
        1);
}

TEST(FileStat, AModeIsDescribedWithoutAPath) {
    char type[11] = "xxxxxxxxxx";
    uint16_t mode = S_IFREG | 0555;
    EXPECT_EQ(uf_filestat(nullptr, type, &mode, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(type, "f");
    mode = S_IFCHR | 0600;
    EXPECT_EQ(uf_filestat(nullptr, type, &mode, nullptr, nullptr, nullptr, nullptr), 0);
    EXPECT_STREQ(type, "c");
    EXPECT_EQ(uf_filestat(nullptr, type, nullptr, nullptr, nullptr, nullptr, nullptr), -1);
}

struct FsCase {
    const char* type;
    bool read_only;
    const char* expected;
};

class FsTypeTest : public ::testing::TestWithParam<FsCase> {};

TEST_P(FsTypeTest, ClassAndWriteLetter) {
    char out[3];
    u_fs_type_text(GetParam().type, GetParam().read_only, out);
    EXPECT_STREQ(out, GetParam().expected) << GetParam().type;
}

INSTANTIATE_TEST_SUITE_P(Table, FsTypeTest,
                         ::testing::Values(FsCase{"ufs", true, "lr"}, FsCase{"ext4", false, "lw"},
                                           FsCase{"xfs", false, "lw"}, FsCase{"tmpfs", false, "lw"},
                                           FsCase{"btrfs", true, "lr"}, FsCase{"nfs", false, "nw"},
                                           FsCase{"nfs4", true, "nr"},
                                           FsCase{"iso9660", false, "lr"},
                                           FsCase{"overlay", false, "?w"},
                                           FsCase{"proc", false, "?w"}, FsCase{"", false, "?w"}),
                         case_names(&FsCase::type));

TEST(DirStat, DescribesTheFileSystem) {
    CfgTempDir dir;
    char type[3] = "";
    uint64_t avail = 0, used = 0, total = 0;
    ASSERT_EQ(uf_dirstat(dir.path().c_str(), type, &avail, &used, &total), 0);
    EXPECT_NE(std::string("lnr?").find(type[0]), std::string::npos);
    EXPECT_EQ(type[1], 'w');
    EXPECT_GT(total, 0u);
    EXPECT_LE(used, total);
    EXPECT_LE(avail, total);
    // /proc is a file system of its own type, which has no class.
    ASSERT_EQ(uf_dirstat("/proc", type, nullptr, nullptr, nullptr), 0);
    EXPECT_EQ(type[0], '?');
    EXPECT_EQ(uf_dirstat((dir / "missing").c_str(), type, nullptr, nullptr, nullptr), 1);
}

}  // namespace
