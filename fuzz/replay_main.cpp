// The replay program of a harness: runs every file named on the command line (a directory
// stands for its files, in name order) through the harness once, as the fuzzer would. A
// finding aborts under the sanitizers; otherwise the program prints how many files ran.
#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

bool read_all(const std::string& path, std::string* out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return false;
    char buf[65536];
    size_t n;
    out->clear();
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
    std::fclose(f);
    return true;
}

void collect(const std::string& path, std::vector<std::string>* files) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0) {
        std::fprintf(stderr, "replay: cannot read %s\n", path.c_str());
        files->push_back(path);  // reported again when it is read
        return;
    }
    if (!S_ISDIR(st.st_mode)) {
        files->push_back(path);
        return;
    }
    DIR* d = opendir(path.c_str());
    if (d == nullptr) return;
    std::vector<std::string> names;
    while (dirent* e = readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(path + "/" + name);
    }
    closedir(d);
    std::sort(names.begin(), names.end());
    for (const std::string& n : names) collect(n, files);
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) collect(argv[i], &files);
    // Every file is read before the first run: a harness may change the directory.
    std::vector<std::string> inputs(files.size());
    int failed = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        if (!read_all(files[i], &inputs[i])) {
            std::fprintf(stderr, "replay: cannot read %s\n", files[i].c_str());
            ++failed;
        }
    }
    for (const std::string& bytes : inputs)
        LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    std::printf("replayed %zu inputs\n", files.size());
    return failed == 0 && !files.empty() ? 0 : 1;
}
