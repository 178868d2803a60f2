// The database access program tests of zovivpt: a program runs six statements of its
// database type, two on its command line, one from a parameter file and three as the
// tool's channel child, every answer line printed.
//
// The password reaches a child only as COLL_PASSWORD in its environment: a command line is
// visible to every user of the host and a parameter file lives on disk.
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/child.h"
#include "runtime/env.h"
#include "runtime/pcc.h"
#include "runtime/sleep.h"
#include "runtime/tempnames.h"
#include "tools/ivpt/ivpt.h"

namespace {

// A child that is not running, a time-out or an answer without its status gives this.
constexpr int kNoAnswer = 12;
constexpr int kRowLimit = 1000;

void export_password() {
    const char* stored = env_vars.password;
    if (!stored || !*stored) return;
    const char* now = std::getenv("COLL_PASSWORD");
    if (!now || std::strcmp(now, stored) != 0) u_putenv("COLL_PASSWORD", stored);
}

bool given(const char* text) { return text && *text; }

// "-logon id -rdbms server" as far as they are set: a missing value drops its option,
// never a placeholder word the program would read as its next operand.
std::vector<RunParm> logon_parms() {
    std::vector<RunParm> out;
    if (given(env_vars.logonid)) {
        out.push_back(W("-logon"));
        out.push_back(V(env_vars.logonid));
    }
    if (given(env_vars.serverid)) {
        out.push_back(W("-rdbms"));
        out.push_back(V(env_vars.serverid));
    }
    return out;
}

// A value as one word of a parameter file (which is cut at blanks, quotes holding them).
std::string file_word(const char* value) {
    std::string v = value;
    if (v.find_first_of(" \t\r\n\"'") == std::string::npos) return v;
    char quote = v.find('"') == std::string::npos ? '"' : '\'';
    return quote + v + quote;
}

// The statement without its one enclosing pair of parentheses.
std::string unwrap(const char* statement) {
    std::string s = statement ? statement : "";
    if (s.size() >= 2 && s.front() == '(' && s.back() == ')') s = s.substr(1, s.size() - 2);
    return s;
}

// The tool as parent of the channel. A request goes out record by record while the child
// takes them; each answer is read up to its !Z, and the answers decide the result.
class Channel {
  public:
    explicit Channel(const char* program) : program_(program) {}
    ~Channel() { stop(); }

    bool start(std::vector<std::string>& words) {
        std::vector<char*> argv;
        for (std::string& w : words) argv.push_back(w.data());
        argv.push_back(nullptr);
        std::fflush(stdout);
        opts_.keeppw = 1;  // the channel child reads COLL_PASSWORD
        started_ = alive_ = u_exec_perm_argv(argv.data(), &opts_) == 0;
        if (!started_) std::printf("-- child %s did not start\n", program_);
        return started_;
    }

    // Sends the records of one request while the child takes them; once it does not,
    // nothing more is sent.
    template <class... Records>
    void request(Records... records) {
        pending_ = alive_;
        for (const std::string& r : {records...}) {
            if (!alive_) return;
            std::snprintf(buf_, sizeof buf_, "%s", r.c_str());
            int rc = pcc_send_sql(buf_, &opts_);
            if (rc != 0) {
                std::printf("-- send to %s failed (%d)\n", program_, rc);
                alive_ = false;
                failed_ = true;
            }
        }
    }

    // Reads and prints one answer, at most `max` records.
    void answer(int max) {
        if (!pending_) return;  // nothing went out: the child was gone already
        std::fflush(stdout);
        u_sleep(1);
        std::printf("-- recieved from %s in interactive mode (I):\n", program_);
        int final_rc = -1;
        bool ended = false;
        for (int n = 0; n < max; ++n) {
            int letter = pcc_receive_sql(buf_, &opts_);
            if (letter == 0) {
                std::printf("-- end of input from %s\n", program_);
                alive_ = false;
                break;
            }
            std::printf("-- (I) ->%.130s<-\n", buf_);
            pcc_status status;
            if (pcc_parse_status(buf_, &status) == 0 && std::strlen(buf_) >= 9) {
                // A return code that does not read is no success.
                final_rc = status.return_code.value_or(-1);
                worst_ = std::max(worst_, final_rc);
            }
            if (letter == 'Z') {
                if (opts_.processRC == pRC_timedout) {
                    std::printf("-- no answer from %s in time\n", program_);
                    alive_ = false;
                } else {
                    ended = true;
                }
                break;
            }
        }
        if (!ended || final_rc != 0) failed_ = true;
        std::fflush(stdout);
    }

    void stop() {
        if (started_ && opts_.ihandle) u_exec_term(&opts_);
    }

    int result() const {
        if (started_ && !failed_) return 0;
        return worst_ > 0 ? worst_ : kNoAnswer;
    }

  private:
    const char* program_;
    execopt opts_{};
    char buf_[pcc_record_size + 2] = {};
    bool started_ = false;
    bool alive_ = false;
    bool failed_ = false;
    bool pending_ = false;  // the last request began to go out
    int worst_ = 0;
};

std::string rec(int id) {
    char b[pcc_record_size + 2];
    pcc_format(b, id);
    return b;
}
std::string rec_x(int sub, const char* text) {
    char b[pcc_record_size + 2];
    pcc_format(b, 'X', sub, text);
    return b;
}
std::string rec_x_num(int sub, int value) {
    char b[pcc_record_size + 2];
    pcc_format(b, 'X', sub, value);
    return b;
}
std::string rec_sql(const std::string& statement) {
    char b[pcc_record_size + 2];
    pcc_format(b, 'S', 'S', statement.c_str());
    return b;
}

int channel_test(const char* program, const char* s4, const char* s5, const char* s6) {
    const char* debug = fetch_exit_debug;
    std::vector<RunParm> parms = logon_parms();
    parms.push_back(W("I"));
    parms.push_back(V(debug));
    std::printf("-- start child=%s, parms=%s.\n", program, join_parms(parms).c_str());
    if (test) return 0;  // test mode starts nothing
    std::vector<std::string> words = {program_path(program)};
    for (const RunParm& p : parms)
        if (given(p.text)) words.emplace_back(p.text);
    Channel ch(program);
    ch.start(words);
    int id = 0;
    struct Step {
        const char* name;
        const char* statement;
        bool headers;
        int max;
    };
    const Step first[] = {{"test_A", s4, true, 4000}, {"test_B", s5, true, 4000}};
    auto statement = [&](const Step& s) {
        std::string sql = unwrap(s.statement);
        if (quiet < 2) std::printf("-- interactive sql '%.70s'\n", sql.c_str());
        if (s.headers)
            ch.request(rec_x('A', s.name), rec_x_num('I', id++), rec_x('X', nullptr),
                       rec_x_num('R', kRowLimit), rec_sql(sql), rec('Z'));
        else
            ch.request(rec_x('A', s.name), rec_x_num('I', id++), rec_sql(sql), rec('Z'));
        ch.answer(s.max);
    };
    for (const Step& s : first) statement(s);
    // Commit and release: the next statement logs in again.
    ch.request(rec_x_num('I', id++), rec_x('D', nullptr), rec('Z'));
    ch.answer(400);
    statement({"test_C", s6, false, 400});
    ch.request(rec_x_num('I', id++), rec_x('D', nullptr), rec_x('S', nullptr), rec('Z'));
    ch.answer(400);
    ch.stop();
    int rc = ch.result();
    if (rc != 0) std::printf("-- interactive mode of %s failed, return code %d\n", program, rc);
    return rc;
}

}  // namespace

int test_db(const char* program, const char* s1, const char* s2, const char* s3, const char* s4,
            const char* s5, const char* s6) {
    const char* debug = fetch_exit_debug;
    export_password();
    for (const char* s : {s1, s2}) {
        std::vector<RunParm> parms = logon_parms();
        parms.push_back(W(s));
        parms.push_back(V(debug));
        int rc = run_cmd(program, parms, 0);
        if (rc > limit) return rc;
    }

    char name[1024];
    u_createTempFileName(name, "ivpt", 0);
    int fd = u_createTempFile(name);
    if (fd < 0) {
        int e = errno;
        std::printf("-- fopen error (%d %s), file=%s\n", e, std::strerror(e), name);
        return 2;
    }
    std::string contents;
    if (given(env_vars.logonid)) contents += "-logon " + file_word(env_vars.logonid) + " ";
    if (given(env_vars.serverid)) contents += "-rdbms " + file_word(env_vars.serverid) + " ";
    contents += s3;
    bool written =
        write(fd, contents.data(), contents.size()) == static_cast<ssize_t>(contents.size());
    int e = errno;
    close(fd);
    if (!written) {
        std::printf("-- write error (%d %s), file=%s\n", e, std::strerror(e), name);
        unlink(name);
        return 2;
    }
    if (quiet < 2) std::printf("-- temp file contents %s\n", contents.c_str());
    int rc = run_cmd(program, {W("-filein"), V(name), V(debug)}, 0);
    unlink(name);
    if (rc > limit) return rc;

    return channel_test(program, s4, s5, s6);
}

int test_zem_db() {
    return test_db(
        "zemsql", "3 \" \" \"select @@version\"", "1 \" \"  sp_helpdb master tempdb",
        "3 master \"select DEVNAME = name, OSNAME = phyname, DISKMON = 'disk_' + "
        "convert(varchar(10), low / 16777216) from master.dbo.sysdevices where status & 16 = 0 "
        "order by phyname\"",
        "(select CACHENAME = name, BUFFERNAME = 'buffer_' + convert(varchar(30), config_admin(15, "
        "0, 0, 0, NULL, name)) from master.dbo.sysconfigures where parent = 19 and config = 19)",
        "(select name, s32 = status & 32, s256 = status & 256, s1024 = status & 1024, s2048 = "
        "status & 2048, s4096 = status & 4096, s2 = status & 2 into #dbd3 from "
        "master.dbo.sysdatabases where status & 7458 != 0 select NUMERRST = sum(s32) / 32 + "
        "sum(s256) / 256, NUMRO = sum(s1024) / 1024, NUMDBO = sum(s2048) / 2048, NUMSING = "
        "sum(s4096) / 4096, NUMNOFRSP = sum(s2) / 2 from #dbd3 drop table #dbd3)",
        "(select MAXLOCKS = a.value, PROCCPCT = b.value, LOGONMAX = c.value, TIMETICKS = "
        "@@timeticks from master..syscurconfigs a, master..syscurconfigs b, "
        "master..syscurconfigs c where a.config = 106 and b.config = 108 and c.config = 103)");
}

int test_qel_db() {
    return test_db(
        "qelsql", "3 \" \" \"SELECT DISTINCT BANNER FROM V$VERSION WHERE BANNER LIKE 'Oracle%'\"",
        // The engine query of a zem server, as the set has always had it.
        "3 \" \" \"select OSPROCID = osprocid, SRVSTARTT = starttime from master..sysengines "
        "where engine = 0\"",
        "3 master \"SELECT MAX(DECODE(NAME, 'db_name', VALUE)) DBNAME, MAX(DECODE(NAME, "
        "'background_dump_dest', VALUE)) DBHOME, MAX(DECODE(NAME, 'db_block_size', VALUE)) "
        "BLKSIZE, MAX(DECODE(NAME, 'db_block_size', VALUE)) MXEXTENTS, MAX(DECODE(NAME, "
        "'processes', VALUE)) MAXPROCA, MAX(DECODE(NAME, 'sessions', VALUE)) MAXSESSA, "
        "MAX(DECODE(NAME, 'db_domain', VALUE)) DBDOMAIN, MAX(DECODE(NAME, 'log_archive_start', "
        "VALUE)) ARCHAUTO, MAX(DECODE(NAME, 'db_files', VALUE)) MAXOPFILE, MAX(DECODE(NAME, "
        "'dml_locks', VALUE)) MDMLLCK FROM V$PARAMETER\"",
        "(SELECT NAME PARMNAME, NUM PARMID, VALUE PARMVALUE, TYPE PARMTYPE, ISDEFAULT PARMDEF "
        "FROM V$PARAMETER)",
        "(SELECT D.FILE_ID FILERID, D.FILE_NAME FILENAME, D.TABLESPACE_NAME TSNAME, V.STATUS "
        "FILESTAT, D.BYTES RAWFILESIZE FROM SYS.DBA_DATA_FILES D, V$DATAFILE V WHERE D.FILE_ID = "
        "V.FILE# ORDER BY D.FILE_ID)",
        "(SELECT ADDR PADDR, PID, NVL(SPID, LPAD('0', 9, '0')) SPID, USERNAME, TERMINAL, "
        "PROGRAM, PROGRAM ORASYSPR, BACKGROUND || '  ' TYPE, LATCHWAIT, LATCHWAIT LATCHADDR, "
        "SERIAL# SERIALNO FROM V$PROCESS)");
}

int test_gim_db() {
    return test_db(
        "gimsql", "3 \" \" \"SELECT DISTINCT NAME DBNAME FROM sysmaster:sysdatabases ORDER BY 1\"",
        "3 \" \" \"SELECT SH_PAGESIZE PAGESIZE FROM sysmaster:sysshmvals\"",
        "3 \" \" \"SELECT CF_NAME PARMID, CF_EFFECTIVE PARMVALUE, CASE WHEN CF_EFFECTIVE = "
        "CF_DEFAULT THEN 'Yes ' ELSE 'No ' END PARMDEF FROM sysmaster:syscfgtab\"",
        "(SELECT D.NAME DBSNAME, D.DBSNUM DBSNUM, D.OWNER DBSOWN, D.NCHUNKS NFCHUNK, HEX(D.FLAGS) "
        "DBSFLAG, SUM(C.CHKSIZE) PAGES, SUM(C.NFREE) FREE, DATE(D.CREATED) CREATED, "
        "D.IS_MIRRORED MIRRFLG, D.IS_BLOBSPACE RCOVFLG, BITAND(D.FLAGS, 8192) ISTEMP, "
        "SUM(C.IS_OFFLINE) OFLCHUNK FROM sysmaster:sysdbstab D, sysmaster:syschunks C WHERE "
        "D.DBSNUM = C.DBSNUM GROUP BY 1, 2, 3, 4, 5, 8, 9, 10, 11 ORDER BY 2)",
        "(SELECT MAX(DECODE(P.NAME, 'totalsorts', P.VALUE)) TTLSORT, MAX(DECODE(P.NAME, "
        "'disksorts', P.VALUE)) DISKSORT, MAX(DECODE(P.NAME, 'fgwrites', P.VALUE)) FGWRITES, "
        "MAX(DECODE(P.NAME, 'iscommits', P.VALUE)) NUMCOMMIT, MAX(DECODE(P.NAME, 'isrollbacks', "
        "P.VALUE)) NUMROLLBK, MAX(DECODE(P.NAME, 'deadlks', P.VALUE)) NUMDEADLK, "
        "MAX(DECODE(P.NAME, 'lktouts', P.VALUE)) TOTDEDTIM, MAX(DECODE(P.NAME, 'ovuser', "
        "P.VALUE)) USROVFL, MAX(DECODE(P.NAME, 'ovlock', P.VALUE)) LCKOVFL, MAX(DECODE(P.NAME, "
        "'ovtrans', P.VALUE)) TRNOVFL, R.TYPE DRTYPE, R.STATE DRSTATE, R.NAME DRNAME, "
        "TO_CHAR(DATETIME(1969-12-31 18:00) YEAR TO SECOND + S.SH_BOOTTIME UNITS SECOND, "
        "'%Y%m%d%H%M%S') SERVSTART FROM sysmaster:sysprofile P, sysmaster:sysdri R, "
        "sysmaster:sysshmvals S GROUP BY 11, 12, 13, 14)",
        "(SELECT V.VPID VPID, V.PID SPID, F.TXT VPCLASS, SUM(R.NREADS) NREADS, SUM(R.NWRITES) "
        "NWRITES, V.READYQUEUE VPREADY, V.USECS_USER * 100 USERCPU, V.USECS_SYS * 100 SYSCPU "
        "FROM sysmaster:sysvplst V, sysmaster:flags_text F, OUTER (sysmaster:systcblst T, "
        "sysmaster:sysrstcb R) WHERE V.FLAGS != 6 AND F.TABNAME = 'sysvplst' AND F.FLAGS = "
        "V.CLASS AND T.VPID = V.VPID AND R.TID = T.TID GROUP BY 1, 2, 3, 6, 7, 8 ORDER BY 1)");
}
