#include "defs/clause_free.h"

#include "defs/clause_decode.h"
#include "defs/clause_exits.h"
#include "defs/clause_loads.h"
#include "defs/clause_math.h"
#include "defs/xsqlda.h"
#include "model/cursor.h"
#include "runtime/alloc.h"

void del_clauses(curs* c) {
    if (c == nullptr) return;
    free_pre_cursors(c->pre_cursor);
    c->pre_cursor = nullptr;
    U_FREE(c->iterate);
    c->iterate = nullptr;
    free_in_lists(c->in_list);
    c->in_list = nullptr;
    free_bases(c->base);
    c->base = nullptr;
    free_load_processes(c->loadp);
    c->loadp = nullptr;
    free_math_chain(c->m_anch);
    c->m_anch = nullptr;
    free_decode_chain(c->decode);
    c->decode = nullptr;
    free_col_exits(c->cxl_ptr);
    c->cxl_ptr = nullptr;
    free_curslist(c->curslist);
    c->curslist = nullptr;
    free_it_where(c->iterate_where);
    c->iterate_where = nullptr;
    free_set_lens(c->set_len);
    c->set_len = nullptr;
    auto* d = static_cast<xSQLDA*>(c->xlda);
    zovldau(&d);
    c->xlda = nullptr;
    U_FREE(c->buffer);
    c->buffer = nullptr;
}
