// Test helper: shows how its parameters arrived.
// Prints "arg:<word>" for every argument. After a "--" argument it reads its standard input
// whole and prints "stdin:<text up to the first NUL>" and "stdinlen:<bytes>". An argument
// "@<file>" prints "file:<contents>".
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>

int main(int argc, char** argv) {
    bool readStdin = false;
    for (int i = 1; i < argc; ++i) {
        std::printf("arg:%s\n", argv[i]);
        if (std::strcmp(argv[i], "--") == 0) readStdin = true;
        if (argv[i][0] == '@') {
            std::string text;
            if (FILE* f = std::fopen(argv[i] + 1, "r")) {
                int c;
                while ((c = std::fgetc(f)) != EOF) text.push_back(static_cast<char>(c));
                std::fclose(f);
            }
            std::printf("file:%s\n", text.c_str());
        }
    }
    if (readStdin) {
        std::string in;
        char buf[4096];
        ssize_t n;
        while ((n = read(0, buf, sizeof buf)) > 0) in.append(buf, static_cast<size_t>(n));
        std::printf("stdin:%s\n", in.c_str());
        std::printf("stdinlen:%zu\n", in.size());
    }
    return 0;
}
