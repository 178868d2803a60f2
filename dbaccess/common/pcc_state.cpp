// The per-request state of the channel that a program's operations read; apart from the
// loop so that a program linking only the store does not pull the loop in.
#include "dbaccess/common/pcc_ops.h"

int32_t max_data_row = -1;
char data_file[1000];
int32_t pcc_db_error = 0;
