// Helpers shared by the harness's files.
#include "harness_util.h"

#include <stdio.h>
#include <stdlib.h>
#include <time.h>

#include <fstream>
#include <sstream>

namespace scenario::detail {

long long real_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void poll_pause() {
    struct timespec ts = {0, 3 * 1000 * 1000};
    nanosleep(&ts, nullptr);
}

std::string read_whole(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::string format_number(double v) {
    char buf[64];
    for (int digits = 6; digits <= 17; ++digits) {
        snprintf(buf, sizeof buf, "%.*g", digits, v);
        if (strtod(buf, nullptr) == v) {
            break;
        }
    }
    return buf;
}

std::vector<std::string> joined(std::vector<std::string> head,
                                const std::vector<std::string> &tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

}  // namespace scenario::detail
