// ShareCommObject: one shared-memory segment with its set of two semaphores ("available"
// 0, "filled" 1), and the four transfer operations over it. A process holds two: the
// request object (30600-byte request segment) and the data object (100000-byte data
// segment); the byte layouts are in comm/shm_layout.h.
//
// Protocol. Request: a requester acquires "available" (with SEM_UNDO, so that the system
// gives it back should the requester die before it posts), writes, and in one semop posts
// "filled" and cancels that undo; the collector acquires "filled", reads, clears the
// request's id (an id found there by the next writer names a request that was never
// finished) and releases "available". A collector that finds both at 0 while it waits,
// with the last process on "available" gone (a partner without SEM_UNDO died holding it),
// resets the set. Data: the collector writes the answer chunk by chunk (available ->
// filled), the requester reads it chunk by chunk (filled -> available; after the last
// chunk the reset gives "available" back), marks no answer pending, sets the
// reader-finished flag and resets the set. Several requesters queue on the data slot's
// "filled": the answer is read only by the requester whose id it carries (or, when late,
// by its process); any other gives "filled" back unread, which hands it to the next in
// the queue, and waits until it was taken. The collector waits for the reader of the
// previous answer (and of each chunk) at most the put's time-out: an answer whose reader
// is gone, or that nobody took in that time, is cleaned away (one line each). Only
// creating the data segment sets the reader-finished flag, attaching leaves it alone.
// Every wait is a semtimedop bounded by the caller's time-out.
//
// Results: 0 success, -10 time-out, -1 any other failure. Messages through PRINT; traces
// only with trace level 5.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <list>
#include <string>

#include "comm/comm_object.h"
#include "comm/shm_layout.h"
#include "comm/shm_memory.h"
#include "comm/shm_semaphore.h"

// Segment and semaphore flags of a new object: created exclusively, owner and group only.
constexpr int ZOV_SHM_CREATE_FLAGS = IPC_CREAT | IPC_EXCL | 0660;

// The process id at the end of a unique id of this code's own form, name-time-count-pid
// (time at least 12 digits, count at least 4); 0 for any other id, such as an agent's
// name-time-count, whose last field is a count.
long zov_unique_pid(const std::string& unique);

// Where an answer's bytes go as GetData reads them: start(total) once its counts are
// known, then every chunk in order.
class AnswerSink {
  public:
    virtual ~AnswerSink() = default;
    virtual void start(size_t total) = 0;
    virtual void append(const char* bytes, size_t n) = 0;
};

class ShareCommObject : public ZOVCommObject {
  public:
    // Creates a segment of `size` bytes and a set of 2 semaphores under `key`, attaches,
    // initialises the segment and sets the set to available 1, filled 0.
    ShareCommObject(ZOVShareType type, int size, key_t key, int attach, int semflg, int shmflg);
    // Attaches to existing objects (by id, or by key) without initialising them.
    ShareCommObject(ZOVShareType type, int shmid, int semid, ZOVShareKeyType keyType);
    ~ShareCommObject() override;

    // The segment is attached and the semaphore id is not negative.
    int IsGood() override;
    int SendRequest(const char* name, const std::list<std::string>& params, std::string& unique,
                    const char* data, int timeout) override;
    // A request older than its life time is consumed and refused (-1).
    int GetRequest(std::string& name, std::string& unique, std::list<std::string>& params,
                   std::string& data, int timeout) override;
    // An answer to a request older than its life time is dropped (0). An unread answer
    // older than 30 seconds, or one whose requester is gone, is cleaned away first; so is
    // one nobody took within `timeout` seconds. A reader that holds the slot longer makes
    // this answer fail (-10), logged once.
    int SendData(const std::string& unique, int numrow, int lenrow, const char* data,
                 int timeout) override;
    // Only the answer that carries `unique` is read: another requester's answer is left
    // in the slot for its owner and the wait goes on. An earlier answer of this process
    // (same process id, another unique id) is read and returned, so that the caller reads
    // it away and waits again. An answer whose counts are impossible is read away and
    // refused (-1).
    int GetData(const std::string& unique, std::string& gotUnique, int& numrow, int& lenrow,
                std::string& data, int timeout) override;
    // GetData with the answer's bytes going to `sink` (the requester's own buffer, so a
    // large answer is not copied once more after it was read).
    int GetDataInto(const std::string& unique, std::string& gotUnique, int& numrow, int& lenrow,
                    AnswerSink& sink, int timeout);
    // Sets the set to available 1, filled 0 (for a type other than 0 or 1: both 0).
    int ResetSemaphore(ZOVShareType type) override;

    // Waits at most `timeout` seconds until "filled" (read) or "available" (write) is not
    // 0, without taking it; 0, or -1 when it stays 0.
    int WaitForRead(int timeout);
    int WaitForWrite(int timeout);
    // Waits at most timeout_ms (0: only looks) until a request is filled and takes
    // "filled" for the GetRequest that follows (which then reads without acquiring):
    // 0 one is held, -10 none came in time or the stop flag is set, -1 failed.
    int WaitRequest(long long timeout_ms);
    // Gives up a request a wait took and nobody read: the segment becomes available.
    void DropHeldRequest();
    // Collector, holding no request: when both semaphores of the request set are 0 and the
    // last process that operated on "available" is gone, resets the set (one line). True
    // when it did.
    bool FreeDeadWriter();
    // True when the unread answer in the data segment belongs to a requester that is gone:
    // its unique id is of our own form (zov_unique_pid) and that process no longer exists.
    // An answer for an agent's id keeps its wait.
    bool AnswerReaderGone();
    bool IsBlockFilledForRead();
    bool IsBlockAvailableForWrite();
    // Cleans an unread answer older than 30 seconds away; 1 when it did.
    int Check();
    // Resets the set when it is stuck: both semaphores 0 (a writer took "available" and
    // never released "filled") and nothing touched the set for longer than the request
    // life time. True when it reset.
    bool ResetIfStuck();

    int GetShmID() const { return shm_.GetShmID(); }
    int GetSemID() const { return sem_.GetSemID(); }
    char* GetSegment() const { return shm_.GetAddress(); }
    // Value of semaphore `number` (GETVAL; no semop, so the set's last-operation time
    // stays as the partners left it); -1 on failure.
    int SemValue(int number);

  private:
    void init(int size, ZOVShareType type, int created);
    int SetAll(unsigned short available, unsigned short filled);
    void CleanData();
    // Takes "available" of the data set for a chunk (see SendData), waiting at most until
    // `deadline` (comm_now_ms) for the reader of what the slot holds. 0 taken, -10 not in
    // time (or the rest of a further chunk's answer was cleaned away), -1 failed.
    int TakeSlot(int64_t deadline, bool first);
    // Takes "filled" when it can be taken at once.
    bool TakeFilledNow();
    int Acquire(int number, int timeout);
    int Release(int number);

    ZOVShareMemory shm_;
    ZOVSemaphore sem_;
    char* request_ = nullptr;  // set when of type request
    char* data_ = nullptr;     // set when of type data
    ZOVShareType type_;
    // A wait took "filled" of the request set; the next GetRequest reads under it.
    bool request_held_ = false;
    // Bytes of the data chunk this object may have left non-zero (all of it at first).
    size_t chunk_used_ = shm::DATA_CHUNK_SIZE;
};

// The attached request and data segments of this process (the data operations keep the
// time fields of the request segment); null when absent.
extern char* g_pRequest;
extern char* g_pData;
// Test seam: when set, called at the named step of an exchange ("available": a requester
// has taken the request segment and written only its request's id). Null in the programs.
extern void (*zov_shm_test_step)(const char* step);
