#include "collector/rows/server_status.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "defs/distrib.h"

int set_status(int32_t code) {
    if (servstatus == nullptr || servstatus_len <= 0) return 0;
    std::memset(servstatus, ' ', static_cast<size_t>(servstatus_len));
    if (code == 0 || code == 100 || code == 1403) return 0;
    char text[16];
    const int n = std::snprintf(text, sizeof text, "%d", code);
    if (n > servstatus_len)
        std::memset(servstatus, '*', static_cast<size_t>(servstatus_len));
    else
        std::memcpy(servstatus, text, static_cast<size_t>(n));
    return 0;
}

void coll_db_type(distrib* d, const char* code) {
    if (d == nullptr || code == nullptr || code[0] == '\0') return;
    char c[4] = {};
    for (int i = 0; i < 3 && code[i] != '\0'; ++i)
        c[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(code[i])));
    static const struct {
        const char* code;
        const char* type;
        const char* alt;  // null: db_typeA unchanged
    } table[] = {
        {"zem", "zem", nullptr}, {"qel", "qel", nullptr}, {"gim", "gim", nullptr},
        {"vik", "vik", nullptr}, {"zov", "zov", nullptr}, {"zyp", "zyp", "qel"},
        {"wef", "wef", "db2"},   {"syb", "zem", nullptr}, {"ora", "qel", nullptr},
        {"inf", "gim", nullptr}, {"sql", "vik", nullptr}, {"db2", "db2", "wef"},
        {"qaa", "qaa", "xxx"},
    };
    for (const auto& row : table) {
        if (std::strcmp(c, row.code) != 0) continue;
        std::memcpy(d->db_type, row.type, 4);
        if (row.alt != nullptr) std::memcpy(d->db_typeA, row.alt, 4);
        return;
    }
    std::memcpy(d->db_type, c, 4);
    std::memcpy(d->db_typeA, "unk", 4);
}
