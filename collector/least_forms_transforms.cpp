#include "collector/least_forms_transforms.h"

#include "model/cursor.h"
#include "model/row_data.h"
#include "runtime/alloc.h"
#include "runtime/msg.h"

int delete_all(curs* cursor) {
    if (cursor->trace)
        PRINT('t', "pdr3000", "Deleting (%d) rows for cursor %s\n", cursor->count,
              cursor->cur_name);
    for (row_data* r = cursor->first_row; r != nullptr;) {
        row_data* next = r->next;
        U_FREE(r);
        r = next;
    }
    cursor->first_row = nullptr;
    cursor->last_row = nullptr;
    cursor->count = 0;
    cursor->changed = 1;
    return 0;
}
