#include "expr/select_mode.h"

namespace {
int proc_mode = PROC_FIRST_ROW;
int row_status = ROW_NONE;
}  // namespace

void set_proc_mode(int mode) { proc_mode = mode; }
int get_proc_mode() { return proc_mode; }
void set_row_status(int status) { row_status = status; }
int get_row_status() { return row_status; }
