// Helpers shared by the harness's files.
#include "harness_util.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <fstream>
#include <sstream>

namespace scenario::detail {

namespace {

int decode_status(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

}  // namespace

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

std::optional<std::string> read_value(const std::string &path) {
    if (access(path.c_str(), F_OK) != 0) {
        return std::nullopt;
    }
    std::string v = read_whole(path);
    if (!v.empty() && v.back() == '\n') {
        v.pop_back();
    }
    return v;
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

bool reap(pid_t pid, int *status) {
    int raw = 0;
    const pid_t r = waitpid(pid, &raw, WNOHANG);
    if (r == pid) {
        *status = decode_status(raw);
    }
    return r == pid || r < 0;  // r < 0: not our child any more
}

int reap_or_kill(pid_t pid, long long cap_ms, bool *killed) {
    const long long give_up = real_ms() + cap_ms;
    int status = -1;
    long pause_ns = 100 * 1000;  // short helpers are reaped quickly
    while (!reap(pid, &status)) {
        if (real_ms() > give_up) {
            kill(pid, SIGKILL);
            int raw = 0;
            waitpid(pid, &raw, 0);
            if (killed != nullptr) {
                *killed = true;
            }
            return decode_status(raw);
        }
        struct timespec ts = {0, pause_ns};
        nanosleep(&ts, nullptr);
        pause_ns = pause_ns < 3000000 ? pause_ns * 2 : pause_ns;
    }
    return status;
}

std::vector<std::string> emulator_words() {
    std::vector<std::string> words;
    std::istringstream in(HARNESS_EMULATOR);
    for (std::string w; in >> w;) {
        words.push_back(w);
    }
    return words;
}

bool is_built_program(const std::string &path) {
    for (const char *built : {POWERBANK_BIN, BOARDSIM_TOOL, UBUSD_SIM, UBUS_SIM}) {
        if (*built != '\0' && path == built) {
            return true;
        }
    }
    return false;
}

}  // namespace scenario::detail
