// Test helper: the child side of the parent-child channel.
// xh_pcc <markerfile>: reads records with pcc_receive_collector. For each request record
// other than Z it answers with a D record holding the line it got; at Z it sends an I/S
// status record and a Z. A request "!S S silent" gets no answer at all; "!S S long" gets a
// line of 5000 characters, then "!D after" and "!Z". At the end of its input it writes
// "eof" to <markerfile> and exits 0.
#include <cstdio>
#include <cstring>
#include <string>

#include "runtime/pcc.h"

int main(int argc, char** argv) {
    const char* marker = argc > 1 ? argv[1] : nullptr;
    char in[pcc_record_size];
    char out[pcc_record_size + 8];
    int answered = 0;
    bool silent = false;
    for (;;) {
        int id = pcc_receive_collector(in);
        if (id == 0) break;
        if (std::strcmp(in, "!S S silent") == 0) {
            silent = true;
            continue;
        }
        if (std::strcmp(in, "!S S long") == 0) {
            std::string line = "!D " + std::string(5000, 'L');
            pcc_send_collector(line.c_str(), stdout);
            pcc_format(out, 'D', "after");
            pcc_send_collector(out, stdout);
            pcc_format(out, 'Z');
            pcc_send_collector(out, stdout);
            continue;
        }
        if (id == 'Z') {
            if (!silent) {
                pcc_format(out, 'I', 'S', 0, answered, 0, "CURS1", 'y');
                pcc_send_collector(out, stdout);
                pcc_format(out, 'Z');
                pcc_send_collector(out, stdout);
            }
            silent = false;
            answered = 0;
            continue;
        }
        if (!silent) {
            pcc_format(out, 'D', in);
            pcc_send_collector(out, stdout);
            ++answered;
        }
    }
    if (marker) {
        if (FILE* f = std::fopen(marker, "w")) {
            std::fputs("eof\n", f);
            std::fclose(f);
        }
    }
    return 0;
}
