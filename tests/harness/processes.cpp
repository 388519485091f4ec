// The harness's processes: the daemon, the bus stand-in and helpers, each in
// the board directory with the board's store, stopped with the board.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <sstream>

#include "harness_util.h"
#include "scenario.h"

namespace scenario {

using namespace detail;

namespace {

// Real-time limit of a helper run to completion.
constexpr long long kHelperCapMs = 30000;
// Grace period between SIGTERM and SIGKILL, real milliseconds.
constexpr long long kStopGraceMs = 3000;
// Real-time limit for the bus and its listener to come up.
constexpr long long kComeUpMs = 10000;

int decode_status(int raw) {
    return WIFEXITED(raw) ? WEXITSTATUS(raw) : WIFSIGNALED(raw) ? 128 + WTERMSIG(raw) : -1;
}

// Reaps PID when it has exited; true then, with *STATUS the exit status or
// 128 + signal.
bool reap(pid_t pid, int *status) {
    int raw = 0;
    const pid_t r = waitpid(pid, &raw, WNOHANG);
    if (r == pid) {
        *status = decode_status(raw);
    }
    return r == pid || r < 0;  // r < 0: not our child any more
}

// Waits up to CAP_MS real milliseconds for PID to exit, then kills it; its
// status. *KILLED tells whether it had to be killed. PUMP runs between polls.
int reap_or_kill(pid_t pid, long long cap_ms, bool *killed = nullptr,
                 const std::function<void()> &pump = {}) {
    int status = -1;
    // Short helpers are reaped quickly: the pause grows from 0.1 ms to 3 ms.
    for (long long give_up = real_ms() + cap_ms, pause_us = 100; !reap(pid, &status);
         pause_us = std::min(2 * pause_us, 3000LL)) {
        if (real_ms() > give_up) {
            kill(pid, SIGKILL);  // and reaped on a later turn
            give_up = LLONG_MAX;
            if (killed != nullptr) {
                *killed = true;
            }
        }
        pump ? pump() : (void)usleep(pause_us);
    }
    return status;
}

// True for the programs this build made (they run through the emulator).
bool is_built_program(const std::string &path) {
    for (const char *built :
         {POWERBANK_BIN, BOARDSIM_TOOL, UBUSD_SIM, UBUS_SIM, POWERBANKCTL_BIN}) {
        if (*built != '\0' && path == built) {
            return true;
        }
    }
    return false;
}

// The daemon's path, and in ENV what runs it. Another build of the daemon may
// be put under test (scripts/test-musl.sh): SCENARIO_DAEMON names it,
// SCENARIO_PRELOAD the board library built for it and SCENARIO_EMULATOR the
// command it runs under.
const char *daemon_under_test(std::vector<std::string> *env) {
    for (const auto &[from, to] : {std::pair{"SCENARIO_PRELOAD", "BOARDSIM_PRELOAD"},
                                   std::pair{"SCENARIO_EMULATOR", "BOARDSIM_EMULATOR"}}) {
        if (const char *value = getenv(from)) {
            env->push_back(std::string(to) + "=" + value);
        }
    }
    const char *daemon = getenv("SCENARIO_DAEMON");
    return daemon != nullptr ? daemon : POWERBANK_BIN;
}

// Names the captured output files of helper runs.
int g_serial = 0;

// Polls READY until it holds; false (and a failure) when PID exits first or
// it takes too long.
bool came_up(pid_t pid, int *status, const std::function<bool()> &ready, const char *what,
             const std::string &log) {
    for (const long long give_up = real_ms() + kComeUpMs; !ready(); poll_pause()) {
        if (pid < 0 || real_ms() > give_up || reap(pid, status)) {
            ADD_FAILURE() << what << " did not come up: " << read_whole(log);
            return false;
        }
    }
    return true;
}

}  // namespace

bool Board::emulated() {
    return HARNESS_EMULATOR[0] != '\0';
}

bool Board::bus_available() {
    return UBUSD_SIM[0] != '\0';
}

bool Board::start_bus() {
    if (bus_pid_ > 0 || !bus_available()) {
        return bus_pid_ > 0;
    }
    const std::string sock = path("run/ubus.sock");
    bus_pid_ = spawn({UBUSD_SIM, "-s", sock}, path("logs/ubusd.out"), path("logs/ubusd.err"));
    // The socket file appears at bind, a moment before the bus accepts clients.
    return came_up(
        bus_pid_, &bus_status_,
        [&] { return access(sock.c_str(), F_OK) == 0 && bus_call({"list"}).status == 0; },
        "ubusd-sim", path("logs/ubusd.err"));
}

void Board::stop_bus() {
    stop_child(listener_pid_, listener_status_);
    stop_child(bus_pid_, bus_status_);
    unlink(path("run/ubus.sock").c_str());
}

bool Board::start_bus_listener() {
    if (!start_bus()) {
        return false;
    }
    listener_pid_ = spawn({UBUS_SIM, "-s", path("run/ubus.sock"), "listen"},
                          path("logs/bus-events.out"), path("logs/bus-events.err"));
    // The listener says nothing when it is ready: send probes until one arrives.
    return came_up(
        listener_pid_, &listener_status_,
        [&] {
            const bool seen = bus_events().find("boardsim.probe") != std::string::npos;
            if (!seen) {
                bus_call({"send", "boardsim.probe", "{}"});
            }
            return seen;
        },
        "bus listener", path("logs/bus-events.err"));
}

std::string Board::bus_events() const {
    return read_whole(path("logs/bus-events.out"));
}

RunResult Board::bus_call(const std::vector<std::string> &args,
                          const std::function<void()> &pump) const {
    // Without the stand-in the empty program name fails to start: status 127.
    return run_process(joined({UBUS_SIM, "-s", path("run/ubus.sock")}, args), pump);
}

void Board::start_daemon(double speed, const std::vector<std::string> &args,
                         const std::string &output) {
    if (daemon_pid_ > 0) {
        ADD_FAILURE() << "the daemon is already running";
        return;
    }
    daemon_status_ = -1;
    std::vector<std::string> env;
    daemon_pid_ = spawn(joined({BOARDSIM_TOOL, "run", dir_, "--speed", format_number(speed), "--",
                                daemon_under_test(&env)},
                               args),
                        output.empty() ? path("logs/daemon.out") : output,
                        output.empty() ? path("logs/daemon.err") : output, env);
    if (daemon_pid_ < 0) {
        ADD_FAILURE() << "cannot start the daemon";
    }
}

RunResult Board::run_daemon() const {
    std::vector<std::string> env;
    return run_process({BOARDSIM_TOOL, "run", dir_, "--", daemon_under_test(&env)}, {}, env);
}

bool Board::daemon_running() {
    if (daemon_pid_ > 0 && reap(daemon_pid_, &daemon_status_)) {
        daemon_pid_ = -1;
    }
    return daemon_pid_ > 0;
}

int Board::stop_daemon() {
    return stop_child(daemon_pid_, daemon_status_);
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
        full.insert(full.end(), {"--speed", format_number(speed)});
    }
    full.push_back("--");
    full.insert(full.end(), argv.begin(), argv.end());
    return run_process(full);
}

std::vector<std::string> Board::ctl_argv(const std::vector<std::string> &args) const {
    // Another build (scripts/test-musl.sh) runs under its emulator.
    const char *other = getenv("SCENARIO_CTL");
    const char *emulator = getenv("SCENARIO_EMULATOR");
    std::vector<std::string> argv;
    std::istringstream words(other != nullptr && emulator != nullptr ? emulator : "");
    for (std::string word; words >> word;) {
        argv.push_back(word);
    }
    argv.push_back(other != nullptr ? other : POWERBANKCTL_BIN);
    return joined(argv, args);
}

std::vector<std::string> Board::ctl_env() const {
    return {"POWERBANK_SOCKET=" + path("run/ubus.sock"),
            "POWERBANK_LOG=" + path("logs/powerbank.log")};
}

RunResult Board::ctl(const std::vector<std::string> &args, const std::string &input,
                     const std::vector<std::string> &env) const {
    const std::string in_file = path("logs/ctl.in");
    std::ofstream(in_file, std::ios::binary | std::ios::trunc) << input;
    return run(ctl_argv(args), joined(ctl_env(), env), in_file, {});
}

void Board::start_recorder() {
    others_.push_back(spawn(ctl_argv({"record"}), path("logs/recorder.out"),
                            path("logs/recorder.err"), ctl_env()));
}

RunResult Board::run_process(const std::vector<std::string> &argv,
                             const std::function<void()> &pump,
                             const std::vector<std::string> &env) const {
    return run(argv, env, "", pump);
}

RunResult Board::run(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                     const std::string &in_file, const std::function<void()> &pump) const {
    RunResult result;
    const int serial = __atomic_add_fetch(&g_serial, 1, __ATOMIC_RELAXED);
    const std::string base = path("logs/run." + std::to_string(serial));
    const pid_t pid = spawn(argv, base + ".out", base + ".err", env, in_file);
    if (pid < 0) {
        return result;
    }
    // A helper that hangs (say, blocked sending to a full socket) must not hang
    // the test: it is killed after a generous real-time limit.
    bool killed = false;
    result.status = reap_or_kill(pid, kHelperCapMs, &killed, pump);
    EXPECT_FALSE(killed) << argv[0] << " did not finish within " << kHelperCapMs / 1000
                         << " s and was killed";
    result.out = read_whole(base + ".out");
    result.err = read_whole(base + ".err");
    unlink((base + ".out").c_str());
    unlink((base + ".err").c_str());
    return result;
}

pid_t Board::spawn(const std::vector<std::string> &argv, const std::string &out_file,
                   const std::string &err_file, const std::vector<std::string> &env,
                   const std::string &in_file) const {
    // A built program runs through the cross build's emulator command.
    std::vector<std::string> full;
    std::istringstream emulator(is_built_program(argv.at(0)) ? HARNESS_EMULATOR : "");
    for (std::string word; emulator >> word;) {
        full.push_back(word);
    }
    full.insert(full.end(), argv.begin(), argv.end());
    std::vector<char *> args;
    for (const auto &a : full) {
        args.push_back(const_cast<char *>(a.c_str()));
    }
    args.push_back(nullptr);
    const std::string config = path("config");
    const std::string status = path("status");
    // A thread-sanitized program sleeps a real second before it exits; on a
    // fast board that is longer than any virtual deadline. Options already set
    // come after and win.
    const char *tsan = getenv("TSAN_OPTIONS");
    const std::string tsan_options = std::string("atexit_sleep_ms=0:") + (tsan ? tsan : "");
    const pid_t parent = getpid();
    const pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    // Nothing outlives the test process, even when it dies abruptly.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // Close-on-exec: only the three duplicates reach the program.
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_APPEND | O_CLOEXEC;
    const int out = open(out_file.c_str(), flags, 0644);
    const int err = open(err_file.c_str(), flags, 0644);
    // Standard input: IN_FILE, or without one a pipe that has no writer
    // (nothing of the host's /dev, which a shared machine has been seen to
    // lose for a moment).
    int in[2] = {-1, -1};
    if (getppid() != parent || out < 0 || err < 0 ||
        (in_file.empty() ? pipe2(in, O_CLOEXEC) != 0 || close(in[1]) != 0
                         : (in[0] = open(in_file.c_str(), O_RDONLY | O_CLOEXEC)) < 0) ||
        dup2(in[0], 0) < 0 || dup2(out, 1) < 0 || dup2(err, 2) < 0 || chdir(dir_.c_str()) != 0) {
        _exit(127);
    }
    // The board carries its own store, whatever the test's environment says.
    setenv("DEVMGR_CONFIG_DIR", config.c_str(), 1);
    setenv("DEVMGR_STATUS_DIR", status.c_str(), 1);
    setenv("TSAN_OPTIONS", tsan_options.c_str(), 1);
    if (emulated()) {
        // `boardsim run` (itself emulated) starts the program through the
        // host's emulator with the target's preload library.
        setenv("BOARDSIM_EMULATOR", HARNESS_EMULATOR, 1);
        setenv("BOARDSIM_PRELOAD", BOARDSIM_PRELOAD, 1);
    }
    for (const std::string &var : env) {
        putenv(const_cast<char *>(var.c_str()));
    }
    execvp(args[0], args.data());  // an emulator may be named without its path
    _exit(127);
}

pid_t Board::start_tool(const std::vector<std::string> &args, const std::string &out_file) {
    std::vector<std::string> argv = {BOARDSIM_TOOL, dir_};
    argv.insert(argv.end(), args.begin(), args.end());
    return start_process(argv, out_file);
}

pid_t Board::start_process(const std::vector<std::string> &argv, const std::string &out_file) {
    const pid_t pid = spawn(argv, out_file, out_file + ".err");
    if (pid > 0) {
        others_.push_back(pid);
    }
    return pid;
}

int Board::stop_process(pid_t pid) {
    others_.erase(std::remove(others_.begin(), others_.end(), pid), others_.end());
    int status = -1;
    return stop_child(pid, status);
}

int Board::stop_child(pid_t &pid, int &status) {
    if (pid > 0) {
        if (!reap(pid, &status)) {
            kill(pid, SIGTERM);
            status = reap_or_kill(pid, kStopGraceMs);
        }
        pid = -1;
    }
    return status;
}

}  // namespace scenario
