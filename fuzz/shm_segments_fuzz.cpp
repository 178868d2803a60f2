// The shared-memory segment readers: the first byte chooses the segment, the rest are its
// bytes from offset 0 (the remainder zero), as another process of the group left them.
// The collector takes a request from the request segment, or a requester takes an answer
// from the data segment (up to three chunks are marked filled; a longer answer times out).
// The two segments and their semaphore sets are made once, private to this process, and
// removed at its end.
#include <sys/ipc.h>
#include <sys/sem.h>
#include <sys/shm.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <list>
#include <string>

#include "comm/share_comm_object.h"
#include "comm/shm_layout.h"
#include "fuzz/fuzz_support.h"

namespace {

ShareCommObject* request_object = nullptr;
ShareCommObject* data_object = nullptr;

void remove_objects() {
    for (ShareCommObject* o : {request_object, data_object}) {
        if (o == nullptr) continue;
        semctl(o->GetSemID(), 0, IPC_RMID);
        shmctl(o->GetShmID(), IPC_RMID, nullptr);
    }
}

bool make_objects() {
    fuzzing::quiet_log();
    request_object = new ShareCommObject(ZOV_SHARE_REQUEST, shm::REQ_SIZE, IPC_PRIVATE, 1,
                                         ZOV_SHM_CREATE_FLAGS, ZOV_SHM_CREATE_FLAGS);
    data_object = new ShareCommObject(ZOV_SHARE_DATA, shm::DATA_SIZE, IPC_PRIVATE, 1,
                                      ZOV_SHM_CREATE_FLAGS, ZOV_SHM_CREATE_FLAGS);
    std::atexit(remove_objects);
    return request_object->IsGood() && data_object->IsGood();
}

void fill(ShareCommObject* o, int size, const uint8_t* data, size_t n, int filled) {
    char* seg = o->GetSegment();
    std::memset(seg, 0, static_cast<size_t>(size));
    std::memcpy(seg, data, std::min(n, static_cast<size_t>(size)));
    zov_semun arg{};
    arg.val = filled;
    semctl(o->GetSemID(), shm::SEM_FILLED, SETVAL, arg);
    arg.val = 0;
    semctl(o->GetSemID(), shm::SEM_AVAILABLE, SETVAL, arg);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const bool ready = make_objects();
    if (!ready || size < 1) return 0;
    if ((data[0] & 1) == 0) {
        fill(request_object, shm::REQ_SIZE, data + 1, size - 1, 1);
        std::string name, unique, text;
        std::list<std::string> params;
        request_object->GetRequest(name, unique, params, text, 0);
    } else {
        fill(data_object, shm::DATA_SIZE, data + 1, size - 1, 3);
        std::string got, text;
        int rows = 0, len = 0;
        data_object->GetData("u1", got, rows, len, text, 0);
    }
    fuzzing::traces_off();
    return 0;
}
