#include <cstring>

#include "runtime/files.h"

namespace {

constexpr size_t kMaxPath = 1022;

bool is_trimmed(char c) { return c == ' ' || c == '\'' || c == '"' || c == '\t' || c == '\n'; }

}  // namespace

char* u_pfilen(const char* path, char* dirOut, char* dirSlashOut, char* baseOut, char* extOut,
               char* fileOut) {
    if (!path || !*path) return nullptr;
    if (!dirOut && !dirSlashOut && !baseOut && !extOut && !fileOut) return nullptr;

    char work[kMaxPath + 1];
    size_t n = strnlen(path, kMaxPath);
    std::memcpy(work, path, n);
    work[n] = '\0';

    // Strip the characters that quoting and line reading leave at both ends.
    size_t start = 0;
    while (start < n && is_trimmed(work[start])) ++start;
    while (n > start && is_trimmed(work[n - 1])) --n;
    work[n] = '\0';
    const char* p = work + start;
    size_t len = n - start;

    // A separator in the very first position does not open a directory part.
    size_t file_at = 0;
    for (size_t i = len; i > 1; --i) {
        if (p[i - 1] == '/' || p[i - 1] == '\\') {
            file_at = i;
            break;
        }
    }
    const char* file = p + file_at;
    size_t file_len = len - file_at;

    char* last = nullptr;
    if (fileOut) {
        std::memcpy(fileOut, file, file_len);
        fileOut[file_len] = '\0';
        last = fileOut;
    }
    if (extOut || baseOut) {
        const char* dot = nullptr;
        for (size_t i = file_len; i > 0 && !dot; --i)
            if (file[i - 1] == '.') dot = file + i - 1;
        size_t base_len = dot ? static_cast<size_t>(dot - file) : file_len;
        if (extOut) {
            size_t ext_len = dot ? file_len - base_len - 1 : 0;
            std::memcpy(extOut, dot ? dot + 1 : file, ext_len);
            extOut[ext_len] = '\0';
            last = extOut;
        }
        if (baseOut) {
            std::memcpy(baseOut, file, base_len);
            baseOut[base_len] = '\0';
            last = baseOut;
        }
    }
    if (dirSlashOut) {
        std::memcpy(dirSlashOut, p, file_at);
        dirSlashOut[file_at] = '\0';
        last = dirSlashOut;
    }
    if (dirOut) {
        size_t dir_len = file_at > 0 ? file_at - 1 : 0;
        std::memcpy(dirOut, p, dir_len);
        dirOut[dir_len] = '\0';
        last = dirOut;
    }
    return last;
}
