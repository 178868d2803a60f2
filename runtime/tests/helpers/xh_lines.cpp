// Test helper: prints lines quickly.
// xh_lines <count> <length> [end]: <count> lines of <length> bytes each (a 7-digit line
// number, then 'x' to the length), each followed by a newline. With "end" the last line
// ends with the end mark 0x1A. With "nonl" the last line has no newline.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    long count = std::strtol(argv[1], nullptr, 10);
    long length = std::strtol(argv[2], nullptr, 10);
    bool endMark = argc > 3 && std::strcmp(argv[3], "end") == 0;
    bool noNewline = argc > 3 && std::strcmp(argv[3], "nonl") == 0;
    std::string out;
    out.reserve(1 << 16);
    for (long i = 1; i <= count; ++i) {
        char num[24];
        std::snprintf(num, sizeof num, "%07ld", i);
        std::string line(num);
        if (static_cast<long>(line.size()) < length)
            line.append(static_cast<size_t>(length) - line.size(), 'x');
        line.resize(static_cast<size_t>(length));
        if (i == count && endMark) line.back() = '\x1a';
        out += line;
        if (!(i == count && noNewline)) out += '\n';
        if (out.size() >= (1 << 16) - 512 || i == count) {
            size_t off = 0;
            while (off < out.size()) {
                ssize_t n = write(1, out.data() + off, out.size() - off);
                if (n <= 0) return 3;
                off += static_cast<size_t>(n);
            }
            out.clear();
        }
    }
    return 0;
}
