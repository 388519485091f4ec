// Scenario-test harness: runs the real daemon on a simulated board.
//
// Each `Board` is a fresh temporary board directory (made with `boardsim init`
// in /tmp, or in $BOARDSIM_TMPDIR) with its own configuration/status store,
// sockets and journal, so scenario tests may run in parallel (ctest -j) without
// meeting each other. The destructor stops everything the board started
// (SIGTERM, then SIGKILL), fails the test when the daemon's standard error
// holds a sanitizer's report, and removes the directory; when the test failed,
// or when BOARDSIM_KEEP is set in the environment, the directory is kept and
// its path printed.
//
// The journal format is described in platform/boardsim/README.md. A line
//   12034 mcu ms51_reg write 9 "w b2 dc \n" via=palmbus
// parses into ms 12034, kind "mcu", fields {"ms51_reg", "write", "9",
// "w b2 dc \n", "via=palmbus"} (the quoted field unescaped), text = everything
// after the stamp, verbatim.
//
// Time: the board runs on virtual time (sleeps divided by the speed given to
// start_daemon). Every wait takes its deadline in virtual milliseconds and
// polls; nothing sleeps a fixed time.
//
// Typical use:
//   scenario::Board b;
//   b.set_config("DBID_POE1_ENABLE", "1");
//   b.bank(1, 20.0, 3.0);
//   b.start_bus();                     // optional; false when no bus stand-in
//   b.start_daemon(50);                // speed 50
//   ASSERT_TRUE(b.wait_for_status("powerbank_state_1", "1", 20000));
//   auto lines = b.journal_find("mcu", "ms51_pse1_ctrl");
#pragma once

#include <sys/types.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace scenario {

// One parsed journal line.
struct JournalLine {
    long long ms = 0;                 // virtual milliseconds since the board started
    std::string kind;                 // "gpio", "mcu", "led", "i2c", "sock", "input", ...
    std::vector<std::string> fields;  // the tokens after the kind; quoted ones unescaped
    std::string text;                 // the line after the stamp and its blank, verbatim

    // Field I (0-based) or "" when the line has fewer fields.
    [[nodiscard]] std::string field(size_t i) const;
    // For data lines ("KIND NAME OP LEN \"BYTES\" [TAG=VALUE...]"):
    [[nodiscard]] std::string name() const { return field(0); }  // e.g. "gpio25/direction"
    [[nodiscard]] std::string op() const { return field(1); }    // "write", "read", "send", ...
    [[nodiscard]] std::string data() const { return field(3); }  // exact bytes, NULs included
    // Value of a trailing TAG=VALUE field ("via", "err"), or "" when absent.
    [[nodiscard]] std::string tag(const std::string &key) const;
};

// Parse a journal text (several lines). Lines that do not parse are skipped.
std::vector<JournalLine> parse_journal(const std::string &text);

// Result of running a helper program to completion.
struct RunResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;  // captured standard output
    std::string err;  // captured standard error
};

class Board {
public:
    // Makes a fresh board in a new temporary directory (`boardsim init`).
    Board();
    // Stops the daemon, the bus and any listener; removes the directory.
    ~Board();
    Board(const Board &) = delete;
    Board &operator=(const Board &) = delete;

    [[nodiscard]] const std::string &dir() const { return dir_; }
    // DIR/REL.
    [[nodiscard]] std::string path(const std::string &rel) const { return dir_ + "/" + rel; }

    // --- store ---------------------------------------------------------------
    void set_config(const std::string &key, const std::string &value);
    // A status value the daemon published (without one trailing newline).
    [[nodiscard]] std::optional<std::string> status(const std::string &key) const;

    // --- inputs (each runs `boardsim DIR VERB ...` and expects exit 0) ---------
    // Runs the tool with ARGS after the board directory; returns its result.
    RunResult tool(const std::vector<std::string> &args) const;
    void dc(bool present) { tool_ok({"dc", present ? "1" : "0"}); }
    void bank(int port, double volts, double amps);  // a power bank on PORT (1 or 2)
    // Nothing on PORT.
    void bank_none(int port) { tool_ok({"bank", std::to_string(port), "none"}); }
    void cc(int port, double cc1_volts, double cc2_volts);
    void adc(int channel, unsigned count);
    // The over-current register 0xa9.
    void oc(unsigned bits) { tool_ok({"oc", std::to_string(bits)}); }
    // Faults, e.g. fault({"missing", "ms51_adc"}), fault({"eio-read", "gpio25/value"}),
    // fault({"silent", "43"}); clear_faults() removes them all.
    void fault(const std::vector<std::string> &args);
    void clear_faults() { tool_ok({"fault", "clear"}); }

    // --- outputs ---------------------------------------------------------------
    // Board model state as `boardsim DIR get NAME` prints it, e.g. "pse1_ctrl",
    // "ups_ctrl", "mcu_led/1", "reg/b2", "led/usbc1", "gpio19/value", "gpio25/direction".
    // nullopt when never written.
    [[nodiscard]] std::optional<std::string> get(const std::string &name) const;

    // --- processes ---------------------------------------------------------------
    // True in a cross build whose programs run under an emulator (qemu-user):
    // the harness then starts every built program through it, and `boardsim run`
    // hands the preload library to the emulator. Host programs such as /bin/sh
    // cannot be run on the board then.
    [[nodiscard]] static bool emulated();
    // True when the bus stand-in (ubusd-sim) was built.
    [[nodiscard]] static bool bus_available();
    // Starts ubusd-sim on the board's bus socket and waits until it is there.
    // Returns false (and starts nothing) when the bus stand-in is not built.
    bool start_bus();
    // Stops the bus stand-in and the listener (which would die with it) and
    // removes the socket, so that start_bus() brings a fresh bus up.
    void stop_bus();
    // Starts `ubus-sim -s SOCK listen` with its output going to a file; false when
    // not available. bus_events() returns what it printed so far.
    bool start_bus_listener();
    [[nodiscard]] std::string bus_events() const;
    // Runs `ubus-sim -s SOCK ARGS...` to completion (status 127 when not built).
    // PUMP, when given, runs while it waits (say, a loop serving the call).
    RunResult bus_call(const std::vector<std::string> &args,
                       const std::function<void()> &pump = {}) const;

    // Starts the real daemon under `boardsim run` at SPEED (sleeps divided by
    // it), with ARGS on its command line. Standard output and error go to files,
    // or both to OUTPUT when it is given (a FIFO, say).
    // SCENARIO_DAEMON, SCENARIO_PRELOAD and SCENARIO_EMULATOR in the environment
    // put another build of it under test (another C library, under qemu).
    void start_daemon(double speed = 1.0, const std::vector<std::string> &args = {},
                      const std::string &output = "");
    // Runs another daemon on the board, from the same build, with the board's
    // speed, to completion (as one started by hand beside a running one).
    RunResult run_daemon() const;
    [[nodiscard]] pid_t daemon_pid() const { return daemon_pid_; }
    // True while the daemon has not exited.
    [[nodiscard]] bool daemon_running();
    // SIGTERM, then SIGKILL after a grace period; returns the exit status (128
    // + signal when killed), also of a daemon that exited by itself.
    int stop_daemon();
    // Everything the daemon wrote so far.
    [[nodiscard]] std::string daemon_stdout() const;
    [[nodiscard]] std::string daemon_stderr() const;

    // Starts ARGV in the board directory, its standard output to OUT_FILE and
    // its error to OUT_FILE.err; it runs until stop_process, or until the
    // board is done. start_tool starts `boardsim DIR ARGS...` (a `watch`).
    pid_t start_process(const std::vector<std::string> &argv, const std::string &out_file);
    pid_t start_tool(const std::vector<std::string> &args, const std::string &out_file);
    // SIGTERM, then SIGKILL after a grace period; the exit status.
    int stop_process(pid_t pid);

    // Runs any program on the board (`boardsim run DIR -- ARGV...`) to completion.
    // SPEED 0 keeps the board's speed (changing it while the daemon runs would
    // skew the daemon's journal stamps).
    RunResult run_on_board(const std::vector<std::string> &argv, double speed = 0) const;
    // Runs a program (not on the board) to completion, in the board directory,
    // with the board's store in its environment and ENV's "NAME=VALUE"
    // settings; PUMP as for bus_call.
    RunResult run_process(const std::vector<std::string> &argv,
                          const std::function<void()> &pump = {},
                          const std::vector<std::string> &env = {}) const;

    // --- the device's companion (powerbankctl) -------------------------------------
    // Runs powerbankctl ARGS to completion with the board's store, its bus
    // socket and the change log logs/powerbank.log; INPUT is its standard
    // input, ENV more "NAME=VALUE" settings. SCENARIO_CTL (run under
    // SCENARIO_EMULATOR) puts another build of it under test.
    RunResult ctl(const std::vector<std::string> &args, const std::string &input = "",
                  const std::vector<std::string> &env = {}) const;
    // Starts `powerbankctl record` writing that log; stopped with the board.
    void start_recorder();

    // --- journal and time ----------------------------------------------------------
    [[nodiscard]] std::vector<JournalLine> journal() const;
    [[nodiscard]] std::string journal_text() const;
    // Lines of KIND (and NAME, and OP, when not empty), in order.
    [[nodiscard]] std::vector<JournalLine> journal_find(const std::string &kind,
                                                        const std::string &name = "",
                                                        const std::string &op = "") const;
    // Polls COND until it holds or the deadline VIRTUAL_MS is spent. While the
    // daemon runs the deadline is counted in its passes (see passes()), one
    // for every 1000 ms asked, and ends when it exits: a loaded machine that
    // stalls the daemon stretches virtual time, never the daemon's passes.
    // Without a daemon it is virtual time from now. A generous real-time cap
    // keeps a stalled board from hanging a test. Returns the last value of
    // COND.
    bool wait_until(const std::function<bool()> &cond, long long virtual_ms);
    // The daemon's passes so far, from the journal: GPIO 25 made an input for
    // a DC sample, not counting a reset's.
    [[nodiscard]] long passes();
    // Waits until status KEY reads VALUE.
    bool wait_for_status(const std::string &key, const std::string &value, long long virtual_ms);
    // Waits until a journal line whose text starts with PREFIX appears (at or after
    // line index FROM); returns it.
    std::optional<JournalLine> wait_for_journal(const std::string &prefix, long long virtual_ms,
                                                size_t from = 0);

private:
    void tool_ok(const std::vector<std::string> &args);
    // ENV: "NAME=VALUE" settings for the program, over the harness's own;
    // IN_FILE its standard input ("": empty).
    pid_t spawn(const std::vector<std::string> &argv, const std::string &out_file,
                const std::string &err_file, const std::vector<std::string> &env = {},
                const std::string &in_file = "") const;
    RunResult run(const std::vector<std::string> &argv, const std::vector<std::string> &env,
                  const std::string &in_file, const std::function<void()> &pump) const;
    // The companion's command line and environment on this board.
    std::vector<std::string> ctl_argv(const std::vector<std::string> &args) const;
    std::vector<std::string> ctl_env() const;
    static int stop_child(pid_t &pid, int &status);

    std::string dir_;
    pid_t daemon_pid_ = -1;
    int daemon_status_ = -1;
    pid_t bus_pid_ = -1;
    int bus_status_ = -1;
    pid_t listener_pid_ = -1;
    int listener_status_ = -1;
    std::vector<pid_t> others_;  // start_process's, still running
    // How far passes() has read the journal, and what it counted there.
    long long journal_read_ = 0;
    long passes_ = 0;
    bool reset_ = false;  // GPIO 25 was last driven out
};

}  // namespace scenario
