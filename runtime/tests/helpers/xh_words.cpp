// Test helper: prints lines of words.
// xh_words <lines> <words>: <lines> lines, each of <words> blank-separated words "w<line>_<n>".
#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    long lines = std::strtol(argv[1], nullptr, 10);
    long words = std::strtol(argv[2], nullptr, 10);
    std::string out;
    for (long i = 1; i <= lines; ++i) {
        for (long k = 1; k <= words; ++k) {
            if (k > 1) out += ' ';
            out += "w" + std::to_string(i) + "_" + std::to_string(k);
        }
        out += '\n';
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    return 0;
}
