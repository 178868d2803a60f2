// The shared-memory transport object: segment set-up and the four transfer operations.
#include "comm/share_comm_object.h"

#include <sys/ipc.h>
#include <sys/sem.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "comm/comm_support.h"
#include "comm/ipc_idfile.h"
#include "comm/request.h"
#include "comm/shm_layout.h"
#include "runtime/dates.h"
#include "runtime/msg.h"
#include "runtime/platform.h"
#include "runtime/trace.h"

char* g_pRequest = nullptr;
char* g_pData = nullptr;
void (*zov_shm_test_step)(const char* step) = nullptr;

namespace {

bool tracing() { return u_trace_on(5); }

// The local date and time for the operations' traces.
const char* stamp(char* buffer) { return u_get_time(buffer, 1); }

// Polling step of the non-consuming waits.
constexpr long kPollMs = 10;

// Whether two unique ids end in the same process id. A process sends one request at a
// time, so an answer with its process id and another unique id is one it stopped waiting
// for: it reads that away itself, or the slot stays taken until the collector's
// 30-second clean-up. Only ids of this code's own form carry a process id; an agent's end
// in a count, which two agents can share.
bool same_requester(const std::string& a, const std::string& b) {
    const long pa = zov_unique_pid(a);
    return pa > 0 && pa == zov_unique_pid(b);
}

}  // namespace

ShareCommObject::ShareCommObject(ZOVShareType type, int size, key_t key, int attach, int semflg,
                                 int shmflg)
    : shm_(static_cast<size_t>(size), key, shmflg, attach), sem_(key, 2, semflg), type_(type) {
    if (sem_.IsSemGood()) shm_.SetSemID(sem_.GetSemID());
    if (!shm_.IsShmGood() || !sem_.IsSemGood()) {
        // Half made: remove what was created, so that nothing is left without an owner.
        if (!shm_.IsShmGood()) {
            zov_sem_remove(sem_.GetSemID());
            zov_shm_remove(shm_.GetShmID());
        }
        return;  // an attached segment without a set goes with the wrapper
    }
    init(size, type, 1);
    if (SetAll(1, 0) != 0) PRINT('e', "ush0022", "Failed to initialize semaphore\n");
}

ShareCommObject::ShareCommObject(ZOVShareType type, int shmid, int semid, ZOVShareKeyType keyType)
    : shm_(shmid, keyType), sem_(semid, 2, keyType), type_(type) {
    if (sem_.IsSemGood()) shm_.SetSemID(sem_.GetSemID());
    if (!shm_.IsShmGood() || !sem_.IsSemGood()) return;
    init(-1, type, 0);
}

ShareCommObject::~ShareCommObject() {
    if (request_ && g_pRequest == request_) g_pRequest = nullptr;
    if (data_ && g_pData == data_) g_pData = nullptr;
}

void ShareCommObject::init(int /*size*/, ZOVShareType type, int created) {
    char* seg = shm_.GetAddress();
    // An attaching process leaves the reader-finished flag as it finds it: setting it
    // while another requester reads its answer told the collector that the slot was free,
    // so it wrote the next answer at once and the reader's closing reset wiped it unread.
    // A flag left at 0 by a reader that died is cleared by the collector's own checks
    // (reader gone, answer older than 30 seconds).
    if (type == ZOV_SHARE_REQUEST) {
        request_ = seg;
        g_pRequest = seg;
        if (created) {
            shm::put32(seg, shm::REQ_LIFE, shm::REQ_LIFE_DEFAULT);
            shm::put32(seg, shm::REQ_READ_INDEX, 0);
            shm::put32(seg, shm::REQ_WRITE_INDEX, 0);
            shm::put32(seg, shm::REQ_WRITTEN, shm::now32());
        }
    } else {
        data_ = seg;
        g_pData = seg;
        if (created) {
            shm::put32(seg, shm::DATA_READER_DONE, 1);
            shm::put32(seg, shm::DATA_READ_INDEX, 0);
            shm::put32(seg, shm::DATA_WRITE_INDEX, 0);
            if (g_pRequest) shm::put32(g_pRequest, shm::REQ_DATA_WRITTEN, shm::now32());
        }
    }
}

int ShareCommObject::IsGood() { return shm_.IsShmGood() && sem_.IsSemGood(); }

int ShareCommObject::SetAll(unsigned short available, unsigned short filled) {
    unsigned short values[2] = {available, filled};
    zov_semun arg{};
    arg.array = values;
    return sem_.SemCtl(0, SETALL, arg) < 0 ? -1 : 0;
}

int ShareCommObject::ResetSemaphore(ZOVShareType type) {
    const bool known = type == ZOV_SHARE_REQUEST || type == ZOV_SHARE_DATA;
    if (SetAll(known ? 1 : 0, 0) != 0) {
        PRINT('e', "ush0023", "Failed to initialize semaphore\n");
        return -1;
    }
    return 0;
}

int ShareCommObject::SemValue(int number) {
    zov_semun arg{};
    return sem_.SemCtl(number, GETVAL, arg);
}

bool ShareCommObject::IsBlockFilledForRead() { return SemValue(shm::SEM_FILLED) > 0; }
bool ShareCommObject::IsBlockAvailableForWrite() { return SemValue(shm::SEM_AVAILABLE) > 0; }

namespace {

int wait_until(ShareCommObject* object, bool (ShareCommObject::*probe)(), int timeout) {
    struct timespec start {};
    u_clock_now(&start);
    for (;;) {
        if ((object->*probe)()) return 0;
        struct timespec now {};
        u_clock_now(&now);
        const long long spent =
            (now.tv_sec - start.tv_sec) * 1000LL + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (timeout <= 0 || spent >= timeout * 1000LL) return -1;
        u_sleep_ms(kPollMs);
    }
}

}  // namespace

int ShareCommObject::WaitForRead(int timeout) {
    return wait_until(this, &ShareCommObject::IsBlockFilledForRead, timeout);
}

int ShareCommObject::WaitForWrite(int timeout) {
    return wait_until(this, &ShareCommObject::IsBlockAvailableForWrite, timeout);
}

int ShareCommObject::WaitRequest(long long timeout_ms) {
    if (!request_) return -1;
    if (request_held_) return 0;
    // The wait takes "filled" itself and GetRequest reads under it: a wait that gave the
    // semaphore back only for GetRequest to take it again cost two more semaphore calls
    // per request and changed nothing a partner can see.
    struct sembuf op = {static_cast<unsigned short>(shm::SEM_FILLED), -1, 0};
    const int64_t deadline = comm_now_ms() + (timeout_ms < 0 ? 0 : timeout_ms);
    for (;;) {
        // In steps of a second at most, so that a writer that died holding the segment
        // is found within a second while the collector waits.
        const int64_t left = deadline - comm_now_ms();
        const int rc = sem_.SemTimedOpMs(&op, 1, left < 0 ? 0 : std::min<int64_t>(left, 1000));
        if (rc == 0) request_held_ = true;
        if (rc != -10) return rc;
        FreeDeadWriter();
        if (comm_stop_requested() || comm_now_ms() >= deadline) return -10;
    }
}

bool ShareCommObject::FreeDeadWriter() {
    if (!request_ || request_held_) return false;
    unsigned short values[2] = {1, 1};
    zov_semun arg{};
    arg.array = values;
    if (sem_.SemCtl(0, GETALL, arg) < 0) return false;
    if (values[shm::SEM_AVAILABLE] != 0 || values[shm::SEM_FILLED] != 0) return false;
    // Both 0 and this collector holds no request: a writer took "available" and has not
    // posted "filled". The last process that operated on "available" is that writer; our
    // own requesters take it with SEM_UNDO, so this is a partner without it (an agent).
    zov_semun none{};
    const int pid = sem_.SemCtl(shm::SEM_AVAILABLE, GETPID, none);
    if (pid <= 0 || pid == getpid() || IsServerRunning(pid)) return false;
    PRINT('i', "ush0042",
          "Request set freed: process %d took 'available' and ended before it posted "
          "'filled' (request %s dropped)\n",
          pid, shm::get_text(request_, shm::REQ_UNIQUE, shm::REQ_UNIQUE_SIZE).c_str());
    shm::put_text(request_, shm::REQ_UNIQUE, shm::REQ_UNIQUE_SIZE, "", 0);
    ResetSemaphore(type_);
    return true;
}

void ShareCommObject::DropHeldRequest() {
    if (!request_held_) return;
    request_held_ = false;
    // Nobody will read it: the segment is free for the next requester.
    shm::put_text(request_, shm::REQ_UNIQUE, shm::REQ_UNIQUE_SIZE, "", 0);
    if (Release(shm::SEM_AVAILABLE) != 0) ResetSemaphore(type_);
}

namespace {

// The number of the last dash-separated field of `id` ending before `end`, when that field
// is at least `min_digits` digits (and at most 9); else -1. `end` moves to its dash.
long long digits_field(const std::string& id, size_t* end, size_t min_digits) {
    const size_t dash = id.rfind('-', *end == 0 ? 0 : *end - 1);
    if (dash == std::string::npos || *end == 0) return -1;
    const size_t n = *end - dash - 1;
    if (n < min_digits || n == 0) return -1;
    long long v = 0;
    for (size_t i = dash + 1; i < *end; i++) {
        if (id[i] < '0' || id[i] > '9' || v > 100000000000000LL) return -1;
        v = v * 10 + (id[i] - '0');
    }
    *end = dash;
    return v;
}

}  // namespace

long zov_unique_pid(const std::string& unique) {
    // Our own ids are name-time-count-pid; an agent's (name-time-count) carry no pid, and
    // their last field, a count, must not be taken for one.
    size_t end = unique.size();
    const long long pid = digits_field(unique, &end, 1);
    if (pid < 1 || pid > 99999999 || digits_field(unique, &end, 4) < 0 ||
        digits_field(unique, &end, 12) < 0 || end == 0) {
        return 0;
    }
    return static_cast<long>(pid);
}

bool ShareCommObject::AnswerReaderGone() {
    if (!data_) return false;
    const long pid = zov_unique_pid(shm::get_text(data_, shm::DATA_UNIQUE, shm::DATA_UNIQUE_SIZE));
    return pid > 0 && !IsServerRunning(static_cast<int>(pid));
}

int ShareCommObject::Acquire(int number, int timeout) {
    struct sembuf op = {static_cast<unsigned short>(number), -1, 0};
    return sem_.SemTimedOp(&op, 1, timeout);
}

int ShareCommObject::Release(int number) {
    struct sembuf op = {static_cast<unsigned short>(number), 1, 0};
    return sem_.SemOp(&op, 1);
}

bool ShareCommObject::ResetIfStuck() {
    if (SemValue(shm::SEM_AVAILABLE) != 0 || SemValue(shm::SEM_FILLED) != 0) return false;
    struct semid_ds ds {};
    zov_semun arg{};
    arg.buf = &ds;
    if (sem_.SemCtl(0, IPC_STAT, arg) < 0) return false;
    const int32_t life = g_pRequest ? shm::get32(g_pRequest, shm::REQ_LIFE) : shm::REQ_LIFE_DEFAULT;
    const int32_t idle = shm::age(shm::now32(), static_cast<int32_t>(ds.sem_otime));
    if (idle <= life) return false;
    ResetSemaphore(type_);
    return true;
}

int ShareCommObject::SendRequest(const char* name, const std::list<std::string>& params,
                                 std::string& unique, const char* data, int timeout) {
    if (tracing()) PRINT('t', "ush0120", "SendRequest: %s, timeout=%d\n", name, timeout);
    ZOVRequest request(name ? name : "", params, data);
    unique = request.GetRequestStr();
    if (!request_) return -1;
    // Taken with SEM_UNDO: a requester that dies before it posts "filled" has "available"
    // given back by the system at once, instead of leaving both semaphores at 0 for every
    // partner until a deadlock breaker acts. The post below cancels the undo again.
    struct sembuf take = {static_cast<unsigned short>(shm::SEM_AVAILABLE), -1, SEM_UNDO};
    const int rc = sem_.SemTimedOp(&take, 1, timeout);
    if (rc == -10) {
        if (tracing()) PRINT('i', "ush0007", "Function SendRequest timeout\n");
        // A requester that took "available" and died before releasing "filled" leaves
        // both at 0. Only once nothing has touched the set for longer than a request's
        // life time is "filled" posted, so that the collector reads the stuck request
        // away (it is late by then) and the set comes back to its rest state.
        if (SemValue(shm::SEM_AVAILABLE) == 0 && SemValue(shm::SEM_FILLED) == 0) {
            struct semid_ds ds {};
            zov_semun arg{};
            arg.buf = &ds;
            const int32_t life = shm::get32(request_, shm::REQ_LIFE);
            if (sem_.SemCtl(0, IPC_STAT, arg) >= 0 &&
                shm::age(shm::now32(), static_cast<int32_t>(ds.sem_otime)) > life) {
                if (tracing()) {
                    PRINT('t', "ush0130", "SendRequest: share memory inconsistency occurs\n");
                }
                if (Release(shm::SEM_FILLED) != 0) {
                    ResetSemaphore(type_);
                    PRINT('i', "ush0038", "Break SendRequest deadlock\n");
                }
            }
        }
        return -10;
    }
    if (tracing()) PRINT('t', "ush0140", "SendRequest: Get 'available' semaphore\n");
    if (rc != 0) {
        PRINT('e', "ush0003", "SendRequest cannnot acquire 'available' semaphore\n");
        return -1;
    }
    // The collector clears the id of every request it reads: one still here was written by
    // a requester that ended before it posted "filled" (the system gave "available" back).
    const std::string left = shm::get_text(request_, shm::REQ_UNIQUE, shm::REQ_UNIQUE_SIZE);
    if (!left.empty()) {
        PRINT('i', "ush0041",
              "Request %s was never finished: its requester ended holding the request "
              "segment, which the system gave back\n",
              left.c_str());
    }
    // The id first, so that a death from here on leaves its mark for the next writer.
    shm::put_text(request_, shm::REQ_UNIQUE, shm::REQ_UNIQUE_SIZE, unique);
    if (zov_shm_test_step) zov_shm_test_step("available");
    shm::put_text(request_, shm::REQ_NAME, shm::REQ_NAME_SIZE, request.GetName());
    if (data) shm::put_text(request_, shm::REQ_DATA, shm::REQ_DATA_SIZE, data, strlen(data));
    memset(request_ + shm::REQ_PARMS, 0, shm::REQ_PARM_COUNT * shm::REQ_PARM_SIZE);
    int slot = 0;
    for (const std::string& p : params) {
        if (slot == shm::REQ_PARM_COUNT) break;
        shm::put_text(request_, shm::REQ_PARMS + slot * shm::REQ_PARM_SIZE, shm::REQ_PARM_SIZE, p);
        slot++;
    }
    shm::put32(request_, shm::REQ_WRITE_INDEX, 0);
    shm::put32(request_, shm::REQ_WRITTEN, shm::now32());
    // One semop posts "filled" and cancels the undo of the take ("available" +1 with
    // SEM_UNDO, -1 without: its value stays, its undo goes), so the request is handed over
    // whole or, should this process die first, not at all.
    struct sembuf post[3] = {{static_cast<unsigned short>(shm::SEM_AVAILABLE), 1, SEM_UNDO},
                             {static_cast<unsigned short>(shm::SEM_AVAILABLE), -1, 0},
                             {static_cast<unsigned short>(shm::SEM_FILLED), 1, 0}};
    if (sem_.SemOp(post, 3) != 0) {
        ResetSemaphore(type_);
        PRINT('e', "ush0008", "SendRequest cannot release 'filled' semaphore\n");
        return -1;
    }
    if (tracing()) {
        PRINT('t', "ush0150", "Finish copy a request to share memory, Unique=%s\n",
              shm::get_text(request_, shm::REQ_UNIQUE, shm::REQ_UNIQUE_SIZE).c_str());
    }
    return 0;
}

int ShareCommObject::GetRequest(std::string& name, std::string& unique,
                                std::list<std::string>& params, std::string& data, int timeout) {
    if (tracing()) PRINT('t', "ush0170", "GetRequest: Entering\n");
    if (!request_) return -1;
    // A wait that found the request has taken "filled" already.
    const int rc = request_held_ ? 0 : Acquire(shm::SEM_FILLED, timeout);
    request_held_ = false;
    if (rc == -10) {
        if (tracing()) PRINT('t', "ush0009", "Function GetRequest timeout\n");
        return -10;
    }
    if (rc != 0) {
        if (tracing()) PRINT('t', "ush0190", "SemOp failed\n");
        PRINT('e', "ush0004", "GetRequest cannot acquire 'filled' semaphore\n");
        return -1;
    }
    unique = shm::get_text(request_, shm::REQ_UNIQUE, shm::REQ_UNIQUE_SIZE);
    name = shm::get_text(request_, shm::REQ_NAME, shm::REQ_NAME_SIZE);
    for (int slot = 0; slot < shm::REQ_PARM_COUNT; slot++) {
        const int at = shm::REQ_PARMS + slot * shm::REQ_PARM_SIZE;
        if (request_[at] != '\0') params.push_back(shm::get_text(request_, at, shm::REQ_PARM_SIZE));
    }
    if (request_[shm::REQ_DATA] != '\0') {
        data = shm::get_text(request_, shm::REQ_DATA, shm::REQ_DATA_SIZE);
    }
    shm::put32(request_, shm::REQ_READ_INDEX, 0);
    const int32_t written = shm::get32(request_, shm::REQ_WRITTEN);
    const int32_t life = shm::get32(request_, shm::REQ_LIFE);
    // Read: an id left in the segment now tells the next writer that a request was lost.
    shm::put_text(request_, shm::REQ_UNIQUE, shm::REQ_UNIQUE_SIZE, "", 0);
    // "available" is given back only when it is still 0: when the set was reset meanwhile
    // (a writer that ended was dealt with), a plain +1 would let two writers in at once.
    struct sembuf give[2] = {{static_cast<unsigned short>(shm::SEM_AVAILABLE), 0, IPC_NOWAIT},
                             {static_cast<unsigned short>(shm::SEM_AVAILABLE), 1, 0}};
    if (sem_.SemOp(give, 2) != 0 && errno != EAGAIN) {
        PRINT('e', "ush0010", "GetRequest cannot release 'available' semaphore\n");
        ResetSemaphore(type_);
    }
    char when[64];
    const int32_t now = shm::now32();
    if (shm::age(now, written) > life) {
        PRINT('i', "ush0032",
              "It's %s. Request '%s' received too late to process(now:%d, finish write:%d, "
              "timeout:%d)\n",
              stamp(when), unique.c_str(), now, written, life);
        return -1;
    }
    if (tracing()) {
        PRINT('t', "ush0210", "GetRequest(%s): Leaving, unique=%s, timeout=%d\n", stamp(when),
              unique.c_str(), timeout);
    }
    return 0;
}

void ShareCommObject::CleanData() {
    shm::put32(data_, shm::DATA_WRITE_INDEX, 0);
    shm::put32(data_, shm::DATA_READ_INDEX, 0);
    if (g_pRequest) shm::put32(g_pRequest, shm::REQ_DATA_WRITTEN, -1);
    shm::put32(data_, shm::DATA_READER_DONE, 1);
    // Last: the reset gives "available" back, and with it the slot to the collector,
    // which then writes the next answer and its flag; nothing of this answer may be
    // written after that.
    ResetSemaphore(type_);
}

int ShareCommObject::Check() {
    if (!data_ || !g_pRequest) return 0;
    const int32_t last = shm::get32(g_pRequest, shm::REQ_DATA_WRITTEN);
    if (last == -1 || shm::age(shm::now32(), last) <= shm::CHECK_TIME) return 0;
    if (tracing()) {
        char when[64];
        PRINT('i', "nsh0011", "It's %s. Data for cursor %s is cleaned\n", stamp(when),
              shm::get_text(data_, shm::DATA_UNIQUE, shm::DATA_UNIQUE_SIZE).c_str());
    }
    CleanData();
    return 1;
}

bool ShareCommObject::TakeFilledNow() {
    struct sembuf op = {static_cast<unsigned short>(shm::SEM_FILLED), -1, IPC_NOWAIT};
    return sem_.SemOp(&op, 1) == 0;
}

int ShareCommObject::TakeSlot(int64_t deadline, bool first) {
    struct sembuf take = {static_cast<unsigned short>(shm::SEM_AVAILABLE), -1, 0};
    // A live reader frees the slot within a millisecond or so: the first look comes soon,
    // the later ones every quarter of a second.
    int64_t step = 10;
    int held_dead = 0;  // looks in a row that found the slot held by nobody who can free it
    for (;;) {
        const int64_t left = deadline - comm_now_ms();
        const int rc = sem_.SemTimedOpMs(&take, 1, std::clamp<int64_t>(left, 0, step));
        if (rc != -10 || comm_stop_requested()) return rc;
        step = 250;
        unsigned short v[2] = {1, 1};
        zov_semun arg{};
        arg.array = v;
        if (sem_.SemCtl(0, GETALL, arg) < 0) return -1;
        if (v[shm::SEM_AVAILABLE] != 0) continue;  // freed meanwhile
        const std::string held = shm::get_text(data_, shm::DATA_UNIQUE, shm::DATA_UNIQUE_SIZE);
        const bool read_whole = shm::get32(data_, shm::DATA_READER_DONE) == 1;
        const char* why = nullptr;
        if (!read_whole && AnswerReaderGone()) {
            // Its requester is gone: nobody will read it. Unread ("filled" up), it is taken
            // here at once; held (both 0), only when that is seen twice, since a reader
            // that looked at another's answer holds "filled" for a moment.
            if (v[shm::SEM_FILLED] != 0 ? TakeFilledNow() : ++held_dead >= 2) why = "gone";
        } else if (read_whole && v[shm::SEM_FILLED] == 0) {
            // Read whole, but its reader ended before its closing reset freed the slot.
            if (++held_dead >= 2) why = "ended";
        } else {
            held_dead = 0;
        }
        if (!why && comm_now_ms() >= deadline) {
            if (v[shm::SEM_FILLED] == 0 || !TakeFilledNow()) {
                // A reader holds the slot: this answer cannot go out in time.
                PRINT('i', "ush0043", "The reader of %s holds the data segment: answer not sent\n",
                      held.c_str());
                return -10;
            }
            why = "late";
        }
        if (!why) continue;
        if (strcmp(why, "late") == 0) {
            PRINT('i', "ush0044", "Answer %s not read in time: cleaned away\n", held.c_str());
        } else if (strcmp(why, "ended") == 0) {
            PRINT('i', "ush0045", "The reader of %s ended before it freed the data segment\n",
                  held.c_str());
        } else {
            PRINT('i', "ush0031", "Cleaning share memory, the reader of %s is gone\n",
                  held.c_str());
        }
        CleanData();
        // A further chunk whose reader is gone or late: the rest of the answer is lost.
        if (!first) return -10;
        held_dead = 0;
    }
}

int ShareCommObject::SendData(const std::string& unique, int numrow, int lenrow, const char* data,
                              int timeout) {
    if (!data_) return -1;
    if (g_pRequest) {
        const int32_t now = shm::now32();
        const int32_t written = shm::get32(g_pRequest, shm::REQ_WRITTEN);
        const int32_t life = shm::get32(g_pRequest, shm::REQ_LIFE);
        if (shm::age(now, written) > life) {
            PRINT('i', "ush0033", "Data for Request '%s' are too late to send(%d,%d,%d)\n",
                  unique.c_str(), now, written, life);
            return 0;
        }
        const int32_t last = shm::get32(g_pRequest, shm::REQ_DATA_WRITTEN);
        if (last != -1 && shm::age(now, last) > shm::CHECK_TIME) {
            PRINT('i', "ush0030", "Cleaning share memory, Data for cursor %s is cleaned\n",
                  shm::get_text(data_, shm::DATA_UNIQUE, shm::DATA_UNIQUE_SIZE).c_str());
            CleanData();
        }
    }
    char when[64];
    if (tracing()) {
        PRINT('t', "ush0230", "SendData(%s): Entering\n", stamp(when));
        if (unique.empty()) {
            PRINT('e', "ush0015", "Unique name is not supplied\n");
            return -1;
        }
    }
    const long long product = (numrow > 0 && lenrow > 0)
                                  ? static_cast<long long>(numrow) * static_cast<long long>(lenrow)
                                  : 0;
    const char* payload = product > 0 && data ? data : "NONE";
    long long remaining = product > 0 && data ? product : 4;

    // The previous answer must have been read (or cleaned away) before it is overwritten,
    // and each further chunk before the next: TakeSlot waits for that reader at most
    // `timeout` seconds.
    bool first = true;
    do {
        const int rc =
            TakeSlot(comm_now_ms() + static_cast<int64_t>(timeout < 0 ? 0 : timeout) * 1000, first);
        if (rc == -10) {
            if (tracing()) PRINT('i', "ush0002", "Function SendData Timeout\n");
            return -10;
        }
        if (rc != 0) {
            PRINT('e', "ush0005", "SendData cannot acquire 'available' semaphore\n");
            return -1;
        }
        if (first) {
            shm::put32(data_, shm::DATA_READER_DONE, 0);
            shm::put_text(data_, shm::DATA_UNIQUE, shm::DATA_UNIQUE_SIZE, unique);
            shm::put32(data_, shm::DATA_ROWS, numrow);
            shm::put32(data_, shm::DATA_LEN, lenrow);
            first = false;
        }
        const size_t n = static_cast<size_t>(std::min<long long>(remaining, shm::DATA_CHUNK_SIZE));
        memcpy(data_ + shm::DATA_CHUNK, payload, n);
        // Behind the bytes the chunk is zero: clear only what an earlier chunk left there.
        if (chunk_used_ > n) memset(data_ + shm::DATA_CHUNK + n, 0, chunk_used_ - n);
        chunk_used_ = n;
        payload += n;
        remaining -= static_cast<long long>(n);
        shm::put32(data_, shm::DATA_WRITE_INDEX, 0);
        if (g_pRequest) shm::put32(g_pRequest, shm::REQ_DATA_WRITTEN, shm::now32());
        if (Release(shm::SEM_FILLED) != 0) {
            ResetSemaphore(type_);
            PRINT('e', "ush0012", "SendData cannot release 'filled' semaphore\n");
            return -1;
        }
    } while (remaining > 0);
    if (tracing()) {
        PRINT('t', "ush0250", "SendData(%s): Leaving, unique=%s, numrow=%d, lenrow=%d\n",
              stamp(when), unique.c_str(), numrow, lenrow);
    }
    return 0;
}

int ShareCommObject::GetData(const std::string& unique, std::string& gotUnique, int& numrow,
                             int& lenrow, std::string& data, int timeout) {
    struct StringSink : AnswerSink {
        explicit StringSink(std::string& s) : out(s) {}
        void start(size_t total) override { out.reserve(total); }
        void append(const char* bytes, size_t n) override { out.append(bytes, n); }
        std::string& out;
    } sink(data);
    data.clear();
    return GetDataInto(unique, gotUnique, numrow, lenrow, sink, timeout);
}

int ShareCommObject::GetDataInto(const std::string& unique, std::string& gotUnique, int& numrow,
                                 int& lenrow, AnswerSink& sink, int timeout) {
    char when[64];
    if (tracing()) {
        PRINT('t', "ush0260", "GetData(%s): Entering, timeout=%d\n", stamp(when), timeout);
    }
    if (!data_) return -1;
    long long remaining = 0;
    bool first = true;
    const int64_t deadline = comm_now_ms() + static_cast<int64_t>(timeout < 0 ? 0 : timeout) * 1000;
    std::string foreign;    // the id of another requester's answer last seen in the slot
    bool left_one = false;  // such an answer was seen (its id may be empty)
    for (;;) {
        int rc = 0;
        if (first) {
            // Waiting requesters queue on "filled" in the order they began to wait, the
            // order of their requests and so of the answers: the post wakes the first in
            // the queue, which most often finds its own answer.
            const int64_t left = deadline - comm_now_ms();
            struct sembuf op = {static_cast<unsigned short>(shm::SEM_FILLED), -1, 0};
            rc = sem_.SemTimedOpMs(&op, 1, left < 0 ? 0 : left);
        } else {
            rc = Acquire(shm::SEM_FILLED, timeout);
        }
        if (rc == -10) {
            if (tracing()) PRINT('i', "ush0013", "GetData timeout\n");
            return -10;
        }
        if (rc != 0) {
            PRINT('e', "ush0006", "GetData cannot acquire 'filled' semaphore\n");
            return -1;
        }
        if (first) {
            gotUnique = shm::get_text(data_, shm::DATA_UNIQUE, shm::DATA_UNIQUE_SIZE);
            if (!unique.empty() && gotUnique != unique) {
                // Concurrent requesters share the one data slot: the answer belongs to the
                // requester whose id it carries. Reading it away (and cleaning the slot)
                // would leave its owner waiting out its whole time-out, so "filled" is given
                // back unread (which hands it to the next requester in the queue at once)
                // and this one waits until another has taken it, then queues again. A late
                // answer of this process is read away.
                if (!same_requester(gotUnique, unique)) {
                    // Seen, not read: only a trace (it is the normal course with several
                    // requesters, and its own line for each would swamp the output).
                    if (tracing() && (!left_one || gotUnique != foreign)) {
                        PRINT('t', "ush0037", "Get Data for %s, not for %s\n", gotUnique.c_str(),
                              unique.c_str());
                    }
                    foreign = gotUnique;
                    left_one = true;
                    if (Release(shm::SEM_FILLED) != 0) {
                        PRINT('e', "ush0014", "GetData cannot release 'filled' semaphore\n");
                        return -1;
                    }
                    // Blocks until "filled" is 0 (taken by the answer's owner, or cleaned
                    // away); in steps of 20 ms, since the slot may already hold the next
                    // answer (this one's, perhaps) when the wait begins, and only the id
                    // shows that.
                    struct sembuf zero = {static_cast<unsigned short>(shm::SEM_FILLED), 0, 0};
                    while (shm::get_text(data_, shm::DATA_UNIQUE, shm::DATA_UNIQUE_SIZE) ==
                           foreign) {
                        const int64_t step = std::min<int64_t>(deadline - comm_now_ms(), 20);
                        if (step <= 0) break;
                        const int zr = sem_.SemTimedOpMs(&zero, 1, step);
                        if (zr == 0) break;
                        if (zr != -10 || comm_stop_requested()) return zr;
                    }
                    if (comm_now_ms() >= deadline) {
                        if (tracing()) PRINT('i', "ush0013", "GetData timeout\n");
                        return -10;
                    }
                    continue;
                }
                PRINT('i', "ush0037", "Get Data for %s, not for %s\n", gotUnique.c_str(),
                      unique.c_str());
            }
            first = false;
            numrow = shm::get32(data_, shm::DATA_ROWS);
            lenrow = shm::get32(data_, shm::DATA_LEN);
            const long long product = static_cast<long long>(numrow) * lenrow;
            if (numrow < 0 || lenrow < 0 || product > COMM_ANSWER_MAX) {
                PRINT('e', "ush0039", "GetData: impossible answer (%d rows of %d bytes) for %s\n",
                      numrow, lenrow, gotUnique.c_str());
                CleanData();
                return -1;
            }
            remaining = product > 0 ? product : 4;
            sink.start(static_cast<size_t>(remaining));
        }
        const size_t n = static_cast<size_t>(std::min<long long>(remaining, shm::DATA_CHUNK_SIZE));
        sink.append(data_ + shm::DATA_CHUNK, n);
        remaining -= static_cast<long long>(n);
        shm::put32(data_, shm::DATA_READ_INDEX, 0);
        // After the last chunk "available" is not released on its own: the closing reset
        // gives it back. Released first, it let a writer in before the reset, which then
        // wiped the answer just written.
        if (remaining <= 0) break;
        if (Release(shm::SEM_AVAILABLE) != 0) {
            PRINT('e', "ush0014", "GetData cannot release 'available' semaphore\n");
            break;
        }
    }
    CleanData();
    if (tracing()) {
        PRINT('t', "ush0270", "GetData(%s): get unique=%s, numrow=%d, lenrow=%d\n", stamp(when),
              gotUnique.c_str(), numrow, lenrow);
    }
    return 0;
}
