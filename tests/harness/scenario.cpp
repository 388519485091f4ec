// The scenario harness: boards, processes on them, and waits in virtual time.
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

namespace scenario {

namespace {

// Real-time cap on any wait, so a stalled board cannot hang a test run.
constexpr long long kRealCapMs = 120000;
// Real-time limit of a helper run to completion.
constexpr long long kHelperCapMs = 30000;
// Grace period between SIGTERM and SIGKILL, real milliseconds.
constexpr long long kStopGraceMs = 3000;

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

int g_serial = 0;

#ifdef HARNESS_EMULATOR
const char *const kEmulator = HARNESS_EMULATOR;
#else
const char *const kEmulator = "";
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
    std::istringstream in(kEmulator);
    std::string w;
    while (in >> w) {
        words.push_back(w);
    }
    return words;
}

}  // namespace

Board::Board() {
    char templ[] = "/tmp/pbboard.XXXXXX";  // short: socket paths must fit 108 bytes
    if (mkdtemp(templ) == nullptr) {
        ADD_FAILURE() << "cannot create a board directory: " << strerror(errno);
        return;
    }
    dir_ = templ;
    mkdir(path("logs").c_str(), 0755);
    RunResult r = run_process({BOARDSIM_TOOL, "init", dir_});
    if (r.status != 0) {
        ADD_FAILURE() << "boardsim init failed (" << r.status << "): " << r.err;
    }
}

Board::~Board() {
    stop_child(listener_pid_, listener_status_);
    stop_daemon();
    stop_child(bus_pid_, bus_status_);
    if (dir_.empty()) {
        return;
    }
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    bool failed = info != nullptr && info->result() != nullptr && info->result()->Failed();
    if (failed || getenv("BOARDSIM_KEEP") != nullptr) {
        fprintf(stderr, "scenario: board kept at %s\n", dir_.c_str());
        return;
    }
    remove_tree(dir_);
}

std::string Board::path(const std::string &rel) const {
    return dir_ + "/" + rel;
}

// --- store ----------------------------------------------------------------------

void Board::set_config(const std::string &key, const std::string &value) {
    if (!write_whole(path("config/" + key), value)) {
        ADD_FAILURE() << "cannot set config " << key;
    }
}

void Board::unset_config(const std::string &key) {
    unlink(path("config/" + key).c_str());
}

std::optional<std::string> Board::config(const std::string &key) const {
    return read_value(path("config/" + key));
}

std::optional<std::string> Board::status(const std::string &key) const {
    return read_value(path("status/" + key));
}

// --- inputs -----------------------------------------------------------------------

RunResult Board::tool(const std::vector<std::string> &args) const {
    std::vector<std::string> argv = {BOARDSIM_TOOL, dir_};
    argv.insert(argv.end(), args.begin(), args.end());
    return run_process(argv);
}

void Board::tool_ok(const std::vector<std::string> &args) {
    RunResult r = tool(args);
    if (r.status != 0) {
        std::string joined;
        for (const auto &a : args) {
            joined += " " + a;
        }
        ADD_FAILURE() << "boardsim" << joined << " failed (" << r.status << "): " << r.err;
    }
}

void Board::dc(bool present) {
    tool_ok({"dc", present ? "1" : "0"});
}

void Board::bank(int port, double volts, double amps) {
    tool_ok({"bank", std::to_string(port), format_number(volts), format_number(amps)});
}

void Board::bank_none(int port) {
    tool_ok({"bank", std::to_string(port), "none"});
}

void Board::cc(int port, double cc1_volts, double cc2_volts) {
    tool_ok({"cc", std::to_string(port), format_number(cc1_volts), format_number(cc2_volts)});
}

void Board::adc(int channel, unsigned count) {
    char ch[8];
    snprintf(ch, sizeof ch, "%x", channel);
    tool_ok({"adc", ch, std::to_string(count)});
}

void Board::oc(unsigned bits) {
    tool_ok({"oc", std::to_string(bits)});
}

void Board::fault(const std::vector<std::string> &args) {
    std::vector<std::string> argv = {"fault"};
    argv.insert(argv.end(), args.begin(), args.end());
    tool_ok(argv);
}

void Board::clear_faults() {
    tool_ok({"fault", "clear"});
}

// --- outputs ------------------------------------------------------------------------

std::optional<std::string> Board::get(const std::string &name) const {
    RunResult r = run_process({BOARDSIM_TOOL, dir_, "get", name});
    if (r.status != 0) {
        return std::nullopt;
    }
    if (!r.out.empty() && r.out.back() == '\n') {
        r.out.pop_back();
    }
    return r.out;
}

// --- processes ------------------------------------------------------------------------

bool Board::emulated() {
    return kEmulator[0] != '\0';
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
            setenv("BOARDSIM_EMULATOR", kEmulator, 1);
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

// --- journal and time -----------------------------------------------------------------

std::string Board::journal_text() const {
    return read_whole(path("journal"));
}

std::vector<JournalLine> Board::journal() const {
    return parse_journal(journal_text());
}

std::vector<JournalLine> Board::journal_find(const std::string &kind, const std::string &name,
                                             const std::string &op) const {
    std::vector<JournalLine> found;
    for (auto &line : journal()) {
        if (line.kind == kind && (name.empty() || line.name() == name) &&
            (op.empty() || line.op() == op)) {
            found.push_back(std::move(line));
        }
    }
    return found;
}

long long Board::now_ms() const {
    long long epoch = 0;
    double speed = 1;
    std::string clock = read_whole(path("clock"));
    if (sscanf(clock.c_str(), "%lld %lf", &epoch, &speed) != 2) {
        return 0;
    }
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    long long now = static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
    return static_cast<long long>(static_cast<double>(now - epoch) * speed / 1e6);
}

bool Board::wait_until(const std::function<bool()> &cond, long long virtual_ms) {
    long long deadline = now_ms() + virtual_ms;
    long long real_cap = real_ms() + kRealCapMs;
    for (;;) {
        if (cond()) {
            return true;
        }
        if (now_ms() > deadline || real_ms() > real_cap) {
            return cond();
        }
        poll_pause();
    }
}

bool Board::wait_for_status(const std::string &key, const std::string &value,
                            long long virtual_ms) {
    return wait_until([&] { return status(key) == value; }, virtual_ms);
}

std::optional<JournalLine> Board::wait_for_journal(const std::string &prefix, long long virtual_ms,
                                                   size_t from) {
    // Reads only what was appended since the last poll.
    std::optional<JournalLine> found;
    std::string pending;
    std::streamoff offset = 0;
    size_t index = 0;
    const std::string journal_path = path("journal");
    wait_until(
        [&] {
            std::ifstream in(journal_path, std::ios::binary);
            in.seekg(offset);
            std::ostringstream ss;
            ss << in.rdbuf();
            std::string chunk = ss.str();
            offset += static_cast<std::streamoff>(chunk.size());
            pending += chunk;
            size_t end = pending.rfind('\n');
            if (end == std::string::npos) {
                return false;
            }
            std::string complete = pending.substr(0, end + 1);
            pending.erase(0, end + 1);
            // Indexes count parsed lines, as journal() does.
            std::vector<JournalLine> lines = parse_journal(complete);
            for (const JournalLine &line : lines) {
                if (index++ >= from && line.text.compare(0, prefix.size(), prefix) == 0) {
                    found = line;
                    return true;
                }
            }
            return false;
        },
        virtual_ms);
    return found;
}

}  // namespace scenario
