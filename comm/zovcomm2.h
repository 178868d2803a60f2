// The shared-memory side of the entry point: the seven words over System V shared
// memory and semaphores. zovcomm passes a word here when COLL_USESHM selects it.
#pragma once

#include "comm/comm_anchor.h"

// Runs `word` (one of the seven, already matched) on the shared-memory transport; the
// result has the meaning the entry point documents for the word.
void* zovcomm2(const char* word, comm_anchor* anchor, const char* names);

// True when this build carries the shared-memory transport.
bool zovcomm_shm_available();
