// The class shape behind the shared-memory transport: the abstract transport interface
// ZOVCommObject, the value objects of a request (ZOVRequest) and of an answer
// (ZOVDataRow) with their base ZOVDataObject, and ZOVThreadCommObject, a request queue
// inside one process. ShareCommObject (comm/share_comm_object.h) is the implementation
// that crosses processes.
//
// Results of the transfer operations: 0 success, -10 time-out, -1 any other failure.
#pragma once

#include <ctime>
#include <list>
#include <string>

#include "comm/shm_locks.h"

// Which segment an object owns.
enum ZOVShareType { ZOV_SHARE_REQUEST = 0, ZOV_SHARE_DATA = 1 };

class ZOVCommObject {
  public:
    virtual ~ZOVCommObject() = default;
    virtual int IsGood() = 0;
    // Sends a request for `name`; its new unique id is returned in `unique`.
    virtual int SendRequest(const char* name, const std::list<std::string>& params,
                            std::string& unique, const char* data, int timeout) = 0;
    // Takes the next request, waiting at most `timeout` seconds.
    virtual int GetRequest(std::string& name, std::string& unique, std::list<std::string>& params,
                           std::string& data, int timeout) = 0;
    // Sends numrow * lenrow bytes of `data` as the answer to request `unique`.
    virtual int SendData(const std::string& unique, int numrow, int lenrow, const char* data,
                         int timeout) = 0;
    // Reads the next answer; `gotUnique` is the id it carries.
    virtual int GetData(const std::string& unique, std::string& gotUnique, int& numrow, int& lenrow,
                        std::string& data, int timeout) = 0;
    virtual int ResetSemaphore(ZOVShareType type) = 0;
};

class ZOVDataObject {
  public:
    ZOVDataObject();
    virtual ~ZOVDataObject() = default;
    time_t GetCreated() const { return created_; }

  private:
    time_t created_;  // when the object was made
};

// Number of request ids this process has formed.
extern int g_nCount;

// The longest unique id that fits the segments' fields.
constexpr size_t ZOV_UNIQUE_MAX = 49;

class ZOVRequest : public ZOVDataObject {
  public:
    // A new request: copies the name, parameters and data, then forms a new unique id.
    ZOVRequest(const std::string& name, const std::list<std::string>& params,
               const char* data = nullptr);
    // A copy of a request whose id is known; no new id.
    ZOVRequest(const std::string& name, const std::string& unique,
               const std::list<std::string>& params, const char* data = nullptr);

    // Adds 1 to g_nCount and sets the id: the name (at most 14 characters), "-", the time
    // in seconds with at least 12 digits, "-", the count with at least 4 digits, "-" and
    // the process id, so that two requesters never form the same id.
    void FormRequest();

    std::string& GetName() { return name_; }
    std::string& GetRequestStr() { return unique_; }
    std::string& GetData() { return data_; }
    std::list<std::string>& GetParam() { return params_; }

  private:
    std::string name_;
    std::string unique_;
    std::string data_;
    std::list<std::string> params_;
};

// The unique id FormRequest forms for `name` at `now` with count `count` in process `pid`.
std::string zov_form_unique(const std::string& name, long long now, int count, long pid);

class ZOVDataRow : public ZOVDataObject {
  public:
    ZOVDataRow() = default;
    // Keeps numrow * lenrow bytes of `data` when numrow is 1 or more, else nothing.
    ZOVDataRow(int numrow, int lenrow, const char* data);
    const std::string& GetData() const { return data_; }
    int GetNumRow() const { return numrow_; }
    int GetLenRow() const { return lenrow_; }

  private:
    std::string data_;
    int numrow_ = 0;
    int lenrow_ = 0;
};

// A request queue inside one process; the answer side goes nowhere. No program starts a
// thread that uses it: it completes the set of transports.
class ZOVThreadCommObject : public ZOVCommObject {
  public:
    ZOVThreadCommObject() = default;
    // Releases the queue's links only: requests still queued are not deleted.
    ~ZOVThreadCommObject() override = default;
    ZOVThreadCommObject(const ZOVThreadCommObject&) = delete;
    ZOVThreadCommObject& operator=(const ZOVThreadCommObject&) = delete;
    int IsGood() override { return 1; }
    // Queues a new request (new unique id, returned in `unique`); 0.
    int SendRequest(const char* name, const std::list<std::string>& params, std::string& unique,
                    const char* data, int timeout) override;
    // Appends a given request (the queue takes it over); 0.
    int SendRequest(ZOVRequest* request);
    // Takes the first queued request (0), or -1 at once when the queue is empty; the
    // timeout is not used.
    int GetRequest(std::string& name, std::string& unique, std::list<std::string>& params,
                   std::string& data, int timeout) override;
    // Builds the answer row and drops it; 0 (-1 for an empty id at trace level 5).
    int SendData(const std::string& unique, int numrow, int lenrow, const char* data,
                 int timeout) override;
    // No answer ever arrives: -1 without waiting.
    int GetData(const std::string& unique, std::string& gotUnique, int& numrow, int& lenrow,
                std::string& data, int timeout) override;
    int ResetSemaphore(ZOVShareType) override { return 0; }

  private:
    std::list<ZOVRequest*> queue_;
    ZOVThreadLockObject request_lock_;
    ZOVThreadLockObject data_lock_;
};

// The process's request and data objects (null when absent); set up by InitShare
// (comm/ipc_idfile.h) or CreateThreadCommObject.
extern ZOVCommObject* g_pCommObjectRequest;
extern ZOVCommObject* g_pCommObjectData;

// The process-wide queue object, built at program start (its two mutexes exist in every
// program that links the communication library).
extern ZOVThreadCommObject g_sCommQueue;

// One ZOVThreadCommObject as both the request and the data object; true when made.
bool CreateThreadCommObject();
// Deletes it and clears both pointers.
void DestroyThreadCommObject();
// Takes requests from the process's request object for ever and queues a copy of each
// on g_sCommQueue. `arg` is not used; it never returns.
void* GetProbeRequest(void* arg);
// Does nothing.
void InitRequestQueue();
