// The processing mode and row status of the internal select.
//
// The internal select evaluates a select list once per row and folds consecutive rows with
// equal key values into groups. It tells the group functions (SUM, ROW) how to treat the row
// being evaluated through the processing mode, and ROW answers through the row status
// whether the row continues the group or begins a new one. Both are process-wide values of
// the single-threaded engine.
#pragma once

// Processing modes.
enum : int { PROC_FIRST_ROW = 0, PROC_NEW_GROUP = 1, PROC_SAME_GROUP = 2 };
// Row status values.
enum : int {
    ROW_NONE = 0,       // no row taken yet
    ROW_FAILED = 1,     // the last row could not be processed
    ROW_CONTINUES = 2,  // the row was taken and the group goes on
    ROW_NEW_GROUP = 3,  // the row ended the current group
};

// Sets / reads the processing mode of the row being evaluated (initially 0).
void set_proc_mode(int mode);
int get_proc_mode();
// Sets / reads the row status (initially 0).
void set_row_status(int status);
int get_row_status();
