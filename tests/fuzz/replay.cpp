// Replays seeds through a fuzz target: each file named on the command line is
// one input, in a buffer of its exact size (so that a read past it is seen).
// A crash, a sanitizer report or a failed check fails the run.
#include <stdint.h>
#include <stdio.h>

#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

int main(int argc, char **argv) {
    for (int i = 1; i < argc; i++) {
        std::vector<uint8_t> data;
        FILE *f = fopen(argv[i], "rb");
        for (int c; f != nullptr && (c = fgetc(f)) != EOF;) {
            data.push_back(static_cast<uint8_t>(c));
        }
        if (f == nullptr || fclose(f) != 0) {
            perror(argv[i]);
            return 1;
        }
        data.shrink_to_fit();
        data.reserve(1);  // never a null pointer, even for an empty input
        LLVMFuzzerTestOneInput(data.data(), data.size());
    }
    printf("%d inputs replayed\n", argc - 1);
    return argc > 1 ? 0 : 1;
}
