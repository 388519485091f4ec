// Replays seed corpora through a fuzz target: every file in the directories
// (or every file) named on the command line is one input. A crash, a
// sanitizer report or a failed check fails the run, and so does no input.
#include <dirent.h>
#include <stdint.h>
#include <stdio.h>

#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

int replay(const std::string &path) {
    FILE *f = fopen(path.c_str(), "rb");
    if (f == nullptr) {
        return 0;
    }
    std::vector<uint8_t> data;
    data.reserve(1);  // never a null pointer, even for an empty input
    for (int c; (c = fgetc(f)) != EOF;) {
        data.push_back(static_cast<uint8_t>(c));
    }
    fclose(f);
    LLVMFuzzerTestOneInput(data.data(), data.size());
    return 1;
}

}  // namespace

int main(int argc, char **argv) {
    int n = 0;
    for (int i = 1; i < argc; i++) {
        DIR *d = opendir(argv[i]);
        if (d == nullptr) {
            n += replay(argv[i]);
            continue;
        }
        while (dirent *e = readdir(d)) {
            n += e->d_name[0] != '.' ? replay(std::string(argv[i]) + "/" + e->d_name) : 0;
        }
        closedir(d);
    }
    printf("%d inputs replayed\n", n);
    return n > 0 ? 0 : 1;
}
