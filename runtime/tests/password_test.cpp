#include "runtime/password.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runtime/env.h"

namespace {

// Sets the configured logon id and server id for the duration of a test.
class ConfiguredIds {
  public:
    ConfiguredIds(const char* logon, const char* server)
        : logon_(logon),
          server_(server),
          old_logon_(env_vars.logonid),
          old_server_(env_vars.serverid) {
        env_vars.logonid = logon_.data();
        env_vars.serverid = server_.data();
    }
    ~ConfiguredIds() {
        env_vars.logonid = old_logon_;
        env_vars.serverid = old_server_;
    }

  private:
    std::string logon_;
    std::string server_;
    char* old_logon_;
    char* old_server_;
};

std::string str(const char* s) { return s ? s : "(null)"; }

bool upper_hex(const std::string& s) {
    return s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// Every printable character but the blank, cycled to the wanted length.
std::string password_of(size_t n, size_t shift) {
    std::string s;
    for (size_t i = 0; i < n; ++i) s += static_cast<char>('!' + (i * 7 + shift) % 94);
    return s;
}

TEST(Password, NewerSchemeRoundTripsEveryLength) {
    const std::vector<std::pair<const char*, const char*>> ids = {
        {"sa", "SYBPROD"},
        {"collector_user", "A_RATHER_LONG_SERVER_NAME_01"},
        {"x", "y"},
        {"", "ONLYSERVER"},
    };
    for (auto [logon, server] : ids) {
        ConfiguredIds cfg(logon, server);
        for (size_t n = 1; n <= 49; ++n) {
            std::string pw = password_of(n, n);
            if (pw[0] == '*' || pw[0] == '#' || pw[0] == '!' || pw[0] == '-' || pw[0] == '=')
                pw[0] = 'Q';  // a mark would make it a plain password
            std::string stored = str(fod(pw.c_str()));
            ASSERT_EQ(stored.size(), 88u) << logon << "/" << server << " n=" << n << " " << stored;
            ASSERT_TRUE(upper_hex(stored)) << stored;
            EXPECT_EQ(str(fok(stored.c_str())), pw) << logon << "/" << server << " n=" << n;
        }
    }
}

TEST(Password, TwoFormsOfOnePasswordDifferAndBothWork) {
    ConfiguredIds cfg("sa", "SYBPROD");
    std::string a = str(fod("secret"));
    std::string b = str(fod("secret"));
    EXPECT_NE(a, b);
    EXPECT_EQ(str(fok(a.c_str())), "secret");
    EXPECT_EQ(str(fok(b.c_str())), "secret");
}

TEST(Password, AFormReadUnderAnotherServerIdIsRefused) {
    // The logon ids are long enough that the scrambling seed comes from them alone, so
    // the server id changes only the bytes scrambled with its own characters; which
    // bytes those are is fixed, so every form of a password gives the same answer. (A
    // password so long that the server id no longer fits in the form cannot be checked
    // this way: it unscrambles to other text.)
    struct Case {
        const char* logon;
        const char* made_under;
        const char* read_under;
        const char* password;
    };
    const Case cases[] = {
        {"sauser", "SYBPROD", "SYBTEST", "secret"},
        {"collector", "PROD_ASE_01", "PROD_ASE_02", "pw4Coll!"},
        {"monitor01", "HOSTA", "HOSTB", "a-password-of-27-characters"},
    };
    for (const Case& c : cases) {
        std::string made = std::string(c.logon) + "\t" + c.made_under;
        std::string read = std::string(c.logon) + "\t" + c.read_under;
        ASSERT_EQ(n_GetSeedData(made.c_str()), n_GetSeedData(read.c_str())) << c.logon;
        for (int round = 0; round < 20; ++round) {
            std::string stored;
            {
                ConfiguredIds cfg(c.logon, c.made_under);
                stored = str(fod(c.password));
                ASSERT_EQ(str(fok(stored.c_str())), c.password);
            }
            ConfiguredIds cfg(c.logon, c.read_under);
            EXPECT_EQ(str(fok(stored.c_str())), "Error invalid password 3")
                << c.logon << " " << c.read_under << " round " << round;
        }
    }
}

TEST(Password, AFormReadUnderOtherIdsNeverGivesOtherText) {
    // A wrong key decodes to a line of other codes; without the TAB behind the password
    // the key check found no embedded id to compare and passed that line as a password.
    // Every read under other ids must be an "Error " text, never other text.
    const std::pair<const char*, const char*> made[] = {
        {"sa", "SYBPROD"}, {"sauser", "SYBPROD"}, {"monitor", "HOSTA"}, {"bob", "ASE_01"}};
    const std::pair<const char*, const char*> read[] = {
        {"sb", "SYBPROD"},      {"bob", "SYBPROD"},    {"sa2", "SYBPROD"}, {"x", "SYBPROD"},
        {"monitor", "SYBPROD"}, {"sauser", "SYBPROD"}, {"sa", "HOSTA"},    {"bob", "ASE_02"}};
    const char* passwords[] = {"secret", "pw4Coll!", "Q"};
    int reads = 0;
    for (auto [logon, server] : made) {
        for (int form = 0; form < 30; ++form) {
            const char* pw = passwords[form % 3];
            std::string stored;
            {
                ConfiguredIds cfg(logon, server);
                stored = str(fod(pw));
                ASSERT_EQ(str(fok(stored.c_str())), pw) << logon << "/" << server;
            }
            for (auto [rlogon, rserver] : read) {
                if (std::string(rlogon) == logon && std::string(rserver) == server) continue;
                ConfiguredIds cfg(rlogon, rserver);
                std::string got = str(fok(stored.c_str()));
                EXPECT_EQ(got.rfind("Error invalid password", 0), 0u)
                    << "made " << logon << "/" << server << ", read " << rlogon << "/" << rserver
                    << ": " << got;
                ++reads;
            }
        }
    }
    EXPECT_GT(reads, 900);
}

TEST(Password, AFormReadUnderAPrefixOfItsLogonId) {
    // The embedded id and the configured one are compared over the shorter length, but
    // the whole key also scrambles the form: a shorter logon id unscrambles it to another
    // line, which is refused like any other wrong key.
    const char* prefixes[] = {"s", "sa", "sau", "sause"};
    for (int form = 0; form < 20; ++form) {
        std::string stored;
        {
            ConfiguredIds cfg("sauser", "SYBPROD");
            stored = str(fod("secret"));
        }
        for (const char* prefix : prefixes) {
            ConfiguredIds cfg(prefix, "SYBPROD");
            std::string got = str(fok(stored.c_str()));
            EXPECT_EQ(got.rfind("Error invalid password", 0), 0u) << prefix << ": " << got;
        }
    }
}

TEST(Password, ExplicitKeyParts) {
    ConfiguredIds cfg("ignored", "IGNORED");
    const char* none = nullptr;
    std::string stored = str(fo2("secret", "sauser", "", "SYBPROD", none));
    // Empty parts are skipped, so the key is the same without them.
    EXPECT_EQ(str(fo1(stored.c_str(), "sauser", "SYBPROD", none)), "secret");
    // With no usable part, the configured ids are the key.
    std::string by_config = str(fo2("secret", "", none));
    EXPECT_EQ(str(fok(by_config.c_str())), "secret");
    EXPECT_EQ(str(fo1(by_config.c_str(), "ignored", "IGNORED", none)), "secret");
}

TEST(Password, ALongPasswordCutsTheEmbeddedKey) {
    // 45 characters leave room for only part of the logon id: still accepted.
    ConfiguredIds cfg("longlogonname", "SERVER");
    std::string pw = password_of(45, 3);
    pw[0] = 'Q';
    std::string stored = str(fod(pw.c_str()));
    EXPECT_EQ(str(fok(stored.c_str())), pw);
}

TEST(Password, StoredFormsThatAreNotScrambled) {
    ConfiguredIds cfg("sa", "SYBPROD");
    struct Case {
        std::string stored;
        const char* want;
    };
    const Case cases[] = {
        {"secret", "secret"},
        {"*secret", "secret"},
        {"#ABC123", "ABC123"},  // hexadecimal-looking text keeps its meaning behind a mark
        {"NONE", "(null)"},
        {"=NONE", "(null)"},
        {"none", "none"},
        {"ABC123", "Error incorrect password length"},
        {std::string(87, 'A'), "Error incorrect password length"},
        {std::string(64, 'a'), nullptr},  // lower-case hexadecimal is plain text
        {"", "(null)"},
    };
    for (const Case& c : cases) {
        std::string want = c.want ? c.want : c.stored;
        EXPECT_EQ(str(fok(c.stored.c_str())), want) << c.stored;
    }
    EXPECT_EQ(fok(nullptr), nullptr);
}

TEST(Password, MarkedPasswordsAreStoredAsTheyStand) {
    ConfiguredIds cfg("sa", "SYBPROD");
    for (const char* mark : {"*", "#", "!", "-", "="}) {
        std::string pw = std::string(mark) + "pass word";
        EXPECT_EQ(str(fod(pw.c_str())), "pass word");
        EXPECT_EQ(str(ofod(pw.c_str())), "pass word");
    }
    EXPECT_EQ(fod(nullptr), nullptr);
    EXPECT_EQ(fod(""), nullptr);
    EXPECT_EQ(ofod(""), nullptr);
}

TEST(Password, PasswordsTheNewerSchemeCannotCarryAreRefused) {
    ConfiguredIds cfg("sa", "SYBPROD");
    const std::string refused[] = {
        std::string(50, 'p'), std::string(60, 'p'), "two words", "tab\there", "caf\xc3\xa9",
    };
    for (const std::string& pw : refused) {
        std::string r = str(fod(pw.c_str()));
        EXPECT_EQ(r.rfind("Error ", 0), 0u) << pw << " -> " << r;
    }
    {
        ConfiguredIds bad("s a", "SYBPROD");
        EXPECT_EQ(str(fod("secret")).rfind("Error ", 0), 0u);
    }
    std::string long_key(300, 'k');
    EXPECT_EQ(str(fo2("secret", long_key.c_str(), static_cast<const char*>(nullptr))),
              "Error key too long");
}

TEST(Password, OlderSchemeRoundTrips) {
    ConfiguredIds cfg("sa", "SYBPROD");
    for (size_t n = 1; n <= 32; ++n) {
        std::string pw = password_of(n, 11);
        pw[0] = 'Q';
        std::string stored = str(ofod(pw.c_str()));
        ASSERT_EQ(stored.size(), 64u) << stored;
        ASSERT_TRUE(upper_hex(stored)) << stored;
        EXPECT_EQ(str(fok(stored.c_str())), pw) << n;
        EXPECT_EQ(str(ofok(stored.c_str())), pw) << n;
    }
    EXPECT_EQ(fok(ofod("NONE")), nullptr);
    EXPECT_EQ(str(ofod(std::string(33, 'p').c_str())).rfind("Error ", 0), 0u);
}

TEST(Password, BuildingBlocksUndoEachOther) {
    unsigned char eight[8] = {0x7f, 0, 0x55, 0x2a, 1, 0x40, 0x33, 0x0f};
    unsigned char seven[7];
    unsigned char back[8];
    n_transC2N(eight, seven, 'c');
    n_transC2N(back, seven, 'e');
    EXPECT_EQ(std::memcmp(eight, back, 8), 0);

    unsigned char buf[44];
    for (int i = 0; i < 44; ++i) buf[i] = static_cast<unsigned char>(i * 37);
    unsigned char orig[44];
    std::memcpy(orig, buf, 44);
    n_DoEnc(buf, "sa\tSYBPROD", 44);
    EXPECT_NE(std::memcmp(buf, orig, 44), 0);
    n_DoDec(buf, "sa\tSYBPROD", 44);
    EXPECT_EQ(std::memcmp(buf, orig, 44), 0);

    for (int c = 0; c < 256; ++c) {
        EXPECT_EQ(n_ConvertChar(n_ConvertChar(c, 3), 4), c);
        int pos = n_ConvertChar(c, 1);
        EXPECT_LT(pos, 96);
        if (pos) {
            EXPECT_EQ(n_ConvertChar(pos, 2), c);
        }
    }
    for (int v = 1; v <= 254; ++v) {
        int f = n_ConvertChar(v, 5);
        EXPECT_NE(f, '\t');
        EXPECT_NE(n_ConvertChar(f, 1), 0) << v;
    }
    EXPECT_EQ(n_ConvertChar('b', 0), 11);
    EXPECT_EQ(n_ConvertChar('G', 0), 0);
}

}  // namespace
