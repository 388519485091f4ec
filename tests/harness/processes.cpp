// The harness's processes: the daemon, the bus stand-in and helpers, each in
// the board directory with the board's store, stopped with the board.
#include "scenario.h"

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

#include "harness_util.h"

namespace scenario {

using namespace detail;

namespace {

// Names the captured output files of helper runs.
int g_serial = 0;

}  // namespace

bool Board::emulated() {
    return emulator()[0] != '\0';
}

bool Board::bus_available() {
#ifdef UBUSD_SIM
    return true;
#else
    return false;
#endif
}

bool Board::start_bus() {
#ifdef UBUSD_SIM
    if (bus_pid_ > 0) {
        return true;
    }
    std::string sock = path("run/ubus.sock");
    bus_pid_ = spawn({UBUSD_SIM, "-s", sock}, path("logs/ubusd.out"), path("logs/ubusd.err"));
    if (bus_pid_ < 0) {
        return false;
    }
    long long give_up = real_ms() + 10000;
    while (access(sock.c_str(), F_OK) != 0) {
        if (real_ms() > give_up || reap(bus_pid_, &bus_status_)) {
            ADD_FAILURE() << "ubusd-sim did not come up: " << read_whole(path("logs/ubusd.err"));
            return false;
        }
        poll_pause();
    }
    return true;
#else
    return false;
#endif
}

bool Board::start_bus_listener() {
#ifdef UBUS_SIM
    if (bus_pid_ < 0 && !start_bus()) {
        return false;
    }
    std::string sock = path("run/ubus.sock");
    listener_pid_ = spawn({UBUS_SIM, "-s", sock, "listen"}, path("logs/bus-events.out"),
                          path("logs/bus-events.err"));
    if (listener_pid_ < 0) {
        return false;
    }
    // The listener says nothing when it is ready: send probes until one arrives.
    long long give_up = real_ms() + 10000;
    while (bus_events().find("boardsim.probe") == std::string::npos) {
        if (real_ms() > give_up || reap(listener_pid_, &listener_status_)) {
            ADD_FAILURE() << "bus listener did not come up";
            return false;
        }
        bus_call({"send", "boardsim.probe", "{}"});
        poll_pause();
    }
    return true;
#else
    return false;
#endif
}

std::string Board::bus_events() const {
    return read_whole(path("logs/bus-events.out"));
}

RunResult Board::bus_call(const std::vector<std::string> &args) const {
#ifdef UBUS_SIM
    std::vector<std::string> argv = {UBUS_SIM, "-s", path("run/ubus.sock")};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv);
#else
    (void)args;
    RunResult r;
    r.status = 127;
    return r;
#endif
}

void Board::start_daemon(double speed, const std::vector<std::string> &args) {
    if (daemon_pid_ > 0) {
        ADD_FAILURE() << "the daemon is already running";
        return;
    }
    std::vector<std::string> argv = {BOARDSIM_TOOL,        "run", dir_,         "--speed",
                                     format_number(speed), "--",  POWERBANK_BIN};
    argv.insert(argv.end(), args.begin(), args.end());
    daemon_status_ = -1;
    daemon_pid_ = spawn(argv, path("logs/daemon.out"), path("logs/daemon.err"));
    if (daemon_pid_ < 0) {
        ADD_FAILURE() << "cannot start the daemon";
    }
}

bool Board::daemon_running() {
    if (daemon_pid_ <= 0) {
        return false;
    }
    if (reap(daemon_pid_, &daemon_status_)) {
        daemon_pid_ = -1;
        return false;
    }
    return true;
}

std::optional<int> Board::wait_daemon_exit(long long virtual_ms) {
    if (daemon_pid_ <= 0) {
        return daemon_status_ >= 0 ? std::optional<int>(daemon_status_) : std::nullopt;
    }
    if (wait_until([this] { return !daemon_running(); }, virtual_ms)) {
        return daemon_status_;
    }
    return std::nullopt;
}

int Board::stop_daemon() {
    int status = stop_child(daemon_pid_, daemon_status_);
    return status;
}

std::string Board::daemon_stdout() const {
    return read_whole(path("logs/daemon.out"));
}
std::string Board::daemon_stderr() const {
    return read_whole(path("logs/daemon.err"));
}

RunResult Board::run_on_board(const std::vector<std::string> &argv, double speed) const {
    std::vector<std::string> full = {BOARDSIM_TOOL, "run", dir_};
    if (speed > 0) {
        full.push_back("--speed");
        full.push_back(format_number(speed));
    }
    full.push_back("--");
    full.insert(full.end(), argv.begin(), argv.end());
    return run_process(full);
}

RunResult Board::run_process(const std::vector<std::string> &argv) const {
    RunResult result;
    int serial = __atomic_add_fetch(&g_serial, 1, __ATOMIC_RELAXED);
    std::string base = path("logs/run." + std::to_string(serial));
    pid_t pid = spawn(argv, base + ".out", base + ".err");
    if (pid < 0) {
        return result;
    }
    // A helper that hangs (say, blocked sending to a full socket) must not hang
    // the test: it is killed after a generous real-time limit.
    long long give_up = real_ms() + kHelperCapMs;
    bool killed = false;
    long pause_ns = 100 * 1000;  // short helpers are reaped quickly
    while (!reap(pid, &result.status)) {
        if (real_ms() > give_up) {
            kill(pid, SIGKILL);
            int raw = 0;
            waitpid(pid, &raw, 0);
            result.status = decode_status(raw);
            killed = true;
            break;
        }
        struct timespec ts = {0, pause_ns};
        nanosleep(&ts, nullptr);
        pause_ns = pause_ns < 3000000 ? pause_ns * 2 : pause_ns;
    }
    result.out = read_whole(base + ".out");
    result.err = read_whole(base + ".err");
    if (killed) {
        ADD_FAILURE() << argv[0] << " did not finish within " << kHelperCapMs / 1000
                      << " s and was killed";
    }
    unlink((base + ".out").c_str());
    unlink((base + ".err").c_str());
    return result;
}

pid_t Board::spawn(const std::vector<std::string> &argv, const std::string &out_file,
                   const std::string &err_file) const {
    std::vector<std::string> full;
    if (emulated() && !argv.empty() && is_built_program(argv[0])) {
        full = emulator_words();
    }
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char *> args;
    for (const auto &a : full) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    std::string config = path("config");
    std::string status = path("status");
    pid_t parent = getpid();
    pid_t pid = fork();
    if (pid < 0) {
        return -1;
    }
    if (pid == 0) {
        // Nothing outlives the test process, even when it dies abruptly.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent) {
            _exit(127);
        }
        // Close-on-exec: only the three duplicates reach the program.
        int out = open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        int err = open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC, 0644);
        int in = open("/dev/null", O_RDONLY | O_CLOEXEC);
        if (out < 0 || err < 0 || in < 0) {
            _exit(127);
        }
        dup2(in, 0);
        dup2(out, 1);
        dup2(err, 2);
        // The board carries its own store, whatever the test's environment says.
        setenv("DEVMGR_CONFIG_DIR", config.c_str(), 1);
        setenv("DEVMGR_STATUS_DIR", status.c_str(), 1);
        if (emulated()) {
            // `boardsim run` (itself emulated) starts the program through the
            // host's emulator with the target's preload library.
            setenv("BOARDSIM_EMULATOR", emulator(), 1);
            setenv("BOARDSIM_PRELOAD", BOARDSIM_PRELOAD, 1);
        }
        if (chdir(dir_.c_str()) != 0) {
            _exit(127);
        }
        execv(args[0], args.data());
        _exit(127);
    }
    return pid;
}

int Board::stop_child(pid_t &pid, int &status) {
    if (pid <= 0) {
        return status;
    }
    if (!reap(pid, &status)) {
        kill(pid, SIGTERM);
        long long give_up = real_ms() + kStopGraceMs;
        while (!reap(pid, &status)) {
            if (real_ms() > give_up) {
                kill(pid, SIGKILL);
                int raw = 0;
                waitpid(pid, &raw, 0);
                status = decode_status(raw);
                break;
            }
            poll_pause();
        }
    }
    pid = -1;
    return status;
}

}  // namespace scenario
