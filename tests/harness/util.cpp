// Helpers shared by the harness's files.
#include "harness_util.h"

#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace scenario::detail {

long long real_ms() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<long long>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

// A short pause between polls of a condition (not a wait for time to pass).
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

std::optional<std::string> read_value(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        return std::nullopt;
    }
    std::ostringstream ss;
    ss << in.rdbuf();
    std::string v = ss.str();
    if (!v.empty() && v.back() == '\n') {
        v.pop_back();
    }
    return v;
}

bool write_whole(const std::string &path, const std::string &data) {
    std::string tmp = path + ".tmp";
    {
        std::ofstream out(tmp, std::ios::binary | std::ios::trunc);
        if (!out) {
            return false;
        }
        out << data;
    }
    return rename(tmp.c_str(), path.c_str()) == 0;
}

void remove_tree(const std::string &path) {
    std::string cmd = "rm -rf '" + path + "'";
    if (system(cmd.c_str()) != 0) {
        fprintf(stderr, "scenario: could not remove %s\n", path.c_str());
    }
}

// The shortest text that reads back as V.
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

int decode_status(int status) {
    if (WIFEXITED(status)) {
        return WEXITSTATUS(status);
    }
    if (WIFSIGNALED(status)) {
        return 128 + WTERMSIG(status);
    }
    return -1;
}

// Reaps PID when it has exited; true then, with *STATUS decoded.
bool reap(pid_t pid, int *status) {
    int raw = 0;
    pid_t r = waitpid(pid, &raw, WNOHANG);
    if (r == pid) {
        *status = decode_status(raw);
        return true;
    }
    return r < 0;  // not our child any more
}

#ifdef HARNESS_EMULATOR
const char *emulator() {
    return HARNESS_EMULATOR;
}
#else
const char *emulator() {
    return "";
}
#endif

// Programs of this build run through the emulator in a cross build.
bool is_built_program(const std::string &path) {
    for (const char *built : {POWERBANK_BIN, BOARDSIM_TOOL}) {
        if (path == built) {
            return true;
        }
    }
#ifdef UBUSD_SIM
    if (path == UBUSD_SIM) {
        return true;
    }
#endif
#ifdef UBUS_SIM
    if (path == UBUS_SIM) {
        return true;
    }
#endif
    return false;
}

std::vector<std::string> emulator_words() {
    std::vector<std::string> words;
    std::istringstream in(emulator());
    std::string w;
    while (in >> w) {
        words.push_back(w);
    }
    return words;
}

}  // namespace scenario::detail
