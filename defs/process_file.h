// The process file: one block per distributor ("process"), with its connection, logon,
// weekday windows, holidays, interval, classes and switches.
#pragma once

#include <cstdint>
#include <cstdio>

// Keyword codes of the process file.
enum : int {
    PK_PROCESS = 1,
    PK_TYPE = 2,
    PK_LOGON_ID = 3,
    PK_PASSWORD = 4,
    PK_SATURDAY_START = 6,
    PK_SATURDAY_END = 7,
    PK_SUNDAY_START = 8,
    PK_SUNDAY_END = 9,
    PK_MON_FRI_START = 10,
    PK_MON_FRI_END = 11,
    PK_INTERVAL = 12,
    PK_HOLIDAY = 13,
    PK_SERVER_ID = 14,
    PK_TIME_OFFSET = 16,
    PK_SLEEP = 21,
    PK_HOLD = 22,
    PK_CONTINUOUS = 23,
    PK_CLASS = 24,
    PK_SEND_FALSE = 25,
    PK_MACHINE_ID = 26,
    PK_END = 27,
};

// The keyword code of the word of exactly length characters (it need not end in a NUL),
// 0 when it is not a keyword. Each keyword is recognised in exactly two spellings: as
// documented ("process", "Saturday_start", "Mon_Fri_end") and in capitals.
int distrib_key_word(const char* text, int32_t length);

// Opens the log when none is open, finds and reads the process file ("proc") and builds
// distrib_anchor, collector_at, have_evaluator, sleep_time and machine_id.mach. Returns 0
// when the file was read without error and a process named "collector" exists, 1
// otherwise (also when the file is not found).
int parse_distributor();

// The same on an open file (the caller closes it).
int parse_distributor_file(FILE* input);
