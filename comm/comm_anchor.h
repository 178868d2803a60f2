// The records of the collector-agent protocol that both transports share.
//
// A `comm_anchor` is the state of one end (collector "C" or requester "P"); it is created
// by zovcomm "init"/"initc" and freed by "term". Its `curs` chain holds one `curs_list`
// block per requested cursor; the chain belongs to the anchor and is rebuilt or freed by
// the next call. All records are plain, trivially copyable structs allocated with
// u_malloc; the bytes that cross a pipe are written and read by the functions of
// comm/request.h, never by copying these structs.
//
// The header is valid C as well, so the agent framework can call zovcomm from C.
#pragma once

#include <signal.h>
#include <stdint.h>

enum {
    COMM_NAME_SIZE = 100,   /* pipe names and the requester's name text */
    COMM_CURSOR_MAX = 8,    /* longest cursor name */
    COMM_PARMS = 16,        /* request parameters per anchor */
    COMM_REQUEST_MAX = 300, /* longest request record in bytes */
    COMM_UNIQUE_SIZE = 50,
    COMM_MSG_SIZE = 200
};

typedef struct curs_list curs_list;
typedef struct comm_anchor comm_anchor;
typedef struct pipe_list pipe_list;
typedef struct data_request data_request;
typedef struct stream_header stream_header;

struct comm_anchor {
    char type;                          /* 'C' collector, 'P' requester */
    struct sigaction prev_signal;       /* SIGPIPE disposition before get/put set ours */
    char prev_curs[COMM_NAME_SIZE];     /* requester: the name text of the last "get" */
    int ulv_pipe_fd;                    /* reply pipe descriptor, -1 when closed */
    int coll_pipe_fd;                   /* collector pipe descriptor, -1 when closed */
    char ulv_pipe[COMM_NAME_SIZE];      /* reply pipe name ("AGT" with shared memory) */
    char coll_pipe[COMM_NAME_SIZE];     /* collector pipe name ("COL" with shared memory) */
    char unique_name[COMM_UNIQUE_SIZE]; /* shared memory: id of the last request */
    curs_list* curs;                    /* head of the cursor chain */
    int return_code;                    /* 0 or the error code of the last operation */
    char return_msg[COMM_MSG_SIZE];     /* text that goes with return_code */
    char* parm[COMM_PARMS];             /* request parameters (null = absent) */
};

/* One reply pipe waiting for a block's answer; the name is allocated with the entry. */
struct pipe_list {
    pipe_list* next;
    int16_t len; /* length of the name */
    char* pipe;  /* points just behind the entry, NUL-terminated */
};

/* The request record in memory: the `len` bytes of the wire form, 4 header bytes first.
   The whole 300 bytes are always allocated, so every record fits. */
struct data_request {
    int16_t len;    /* total length of the record in bytes, header included */
    int16_t offset; /* length of the cursor name */
    char data[COMM_REQUEST_MAX - 4];
};

/* One requested cursor and its answer. */
struct curs_list {
    curs_list* next;
    data_request* pipe_buf; /* the block's request, owned */
    pipe_list* pipe;        /* collector: reply pipes waiting for this answer, owned */
    char cursor[COMM_CURSOR_MAX + 1];
    int rows;   /* rows of the answer */
    int len;    /* bytes per row */
    char* data; /* rows * len bytes, owned; null when rows <= 0 */
};

/* The answer header on a reply pipe (8 bytes: rows, then bytes per row). */
struct stream_header {
    int32_t rows;
    int32_t len;
};

#ifdef __cplusplus
#include <type_traits>
static_assert(std::is_trivially_copyable_v<comm_anchor>);
static_assert(std::is_trivially_copyable_v<curs_list>);
static_assert(std::is_trivially_copyable_v<data_request>);
static_assert(sizeof(data_request) == COMM_REQUEST_MAX);
static_assert(sizeof(stream_header) == 8);
#endif
