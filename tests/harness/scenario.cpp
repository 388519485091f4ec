// The scenario harness: boards, their store, inputs and outputs, the journal
// and waits in virtual time.
#include "scenario.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <fstream>

#include "harness_util.h"

namespace scenario {

using namespace detail;

namespace {

// TEXT without one trailing newline.
std::string chomp(std::string text) {
    if (!text.empty() && text.back() == '\n') {
        text.pop_back();
    }
    return text;
}

// Virtual milliseconds since the board in DIR started (the journal's clock).
long long virtual_now_ms(const std::string &dir) {
    long long epoch = 0;
    double speed = 1;
    if (sscanf(read_whole(dir + "/clock").c_str(), "%lld %lf", &epoch, &speed) != 2) {
        return 0;
    }
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    const long long now = static_cast<long long>(ts.tv_sec) * 1000000000LL + ts.tv_nsec;
    return static_cast<long long>(static_cast<double>(now - epoch) * speed / 1e6);
}

}  // namespace

Board::Board() {
    // Short: socket paths must fit 108 bytes. BOARDSIM_TMPDIR puts the boards
    // of a run somewhere else (the mutant runs), /tmp otherwise.
    const char *tmp = getenv("BOARDSIM_TMPDIR");
    std::string templ = std::string(tmp != nullptr ? tmp : "/tmp") + "/pbboard.XXXXXX";
    if (mkdtemp(templ.data()) == nullptr) {
        ADD_FAILURE() << "cannot create a board directory: " << strerror(errno);
        return;
    }
    dir_ = templ;
    mkdir(path("logs").c_str(), 0755);
    const RunResult r = run_process({BOARDSIM_TOOL, "init", dir_});
    if (r.status != 0) {
        ADD_FAILURE() << "boardsim init failed (" << r.status << "): " << r.err;
    }
}

Board::~Board() {
    while (!others_.empty()) {
        stop_process(others_.back());
    }
    stop_child(listener_pid_, listener_status_);
    stop_daemon();
    stop_child(bus_pid_, bus_status_);
    if (dir_.empty()) {
        return;
    }
    // An instrumented daemon (the sanitizer stages) reports into its standard
    // error and may live on: every run on a board is looked at.
    const std::string err = daemon_stderr();
    for (const char *report : {"Sanitizer", "runtime error"}) {
        EXPECT_EQ(err.find(report), std::string::npos) << err;
    }
    const testing::TestInfo *info = testing::UnitTest::GetInstance()->current_test_info();
    if ((info != nullptr && info->result()->Failed()) || getenv("BOARDSIM_KEEP") != nullptr) {
        fprintf(stderr, "scenario: board kept at %s\n", dir_.c_str());
    } else if (system(("rm -rf '" + dir_ + "'").c_str()) != 0) {
        fprintf(stderr, "scenario: could not remove %s\n", dir_.c_str());
    }
}

// --- store ----------------------------------------------------------------------

void Board::set_config(const std::string &key, const std::string &value) {
    // Replaced through a temporary file, as the store tool does.
    const std::string file = path("config/" + key);
    std::ofstream(file + ".tmp", std::ios::binary | std::ios::trunc) << value;
    if (rename((file + ".tmp").c_str(), file.c_str()) != 0) {
        ADD_FAILURE() << "cannot set config " << key;
    }
}

std::optional<std::string> Board::status(const std::string &key) const {
    const std::string file = path("status/" + key);
    return access(file.c_str(), F_OK) == 0 ? std::optional(chomp(read_whole(file))) : std::nullopt;
}

// --- inputs -----------------------------------------------------------------------

RunResult Board::tool(const std::vector<std::string> &args) const {
    return run_process(joined({BOARDSIM_TOOL, dir_}, args));
}

void Board::tool_ok(const std::vector<std::string> &args) {
    const RunResult r = tool(args);
    if (r.status != 0) {
        ADD_FAILURE() << "boardsim " << testing::PrintToString(args) << " failed (" << r.status
                      << "): " << r.err;
    }
}

void Board::bank(int port, double volts, double amps) {
    tool_ok({"bank", std::to_string(port), format_number(volts), format_number(amps)});
}

void Board::cc(int port, double cc1_volts, double cc2_volts) {
    tool_ok({"cc", std::to_string(port), format_number(cc1_volts), format_number(cc2_volts)});
}

void Board::adc(int channel, unsigned count) {
    char ch[8];
    snprintf(ch, sizeof ch, "%x", channel);
    tool_ok({"adc", ch, std::to_string(count)});
}

void Board::fault(const std::vector<std::string> &args) {
    tool_ok(joined({"fault"}, args));
}

// --- outputs ------------------------------------------------------------------------

std::optional<std::string> Board::get(const std::string &name) const {
    const RunResult r = tool({"get", name});
    return r.status == 0 ? std::optional(chomp(r.out)) : std::nullopt;
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

long Board::passes() {
    std::ifstream in(path("journal"), std::ios::binary);
    in.seekg(journal_read_);
    // A line not yet whole is read again on the next call.
    for (std::string line; std::getline(in, line) && !in.eof(); journal_read_ = in.tellg()) {
        // Every pass makes GPIO 25 an input before it samples DC (also when
        // the sample cannot be read); a reset drives it out and in again,
        // which is no pass. So the count never goes back.
        const size_t at = line.find(" gpio gpio25/direction write ");
        if (at != std::string::npos) {
            const bool in_again = line.find(" \"in", at) != std::string::npos;
            passes_ += in_again && !reset_;
            reset_ = !in_again;
        }
    }
    return passes_;
}

bool Board::wait_until(const std::function<bool()> &cond, long long virtual_ms) {
    const bool counted = daemon_running();
    const long pass_deadline = passes() + (virtual_ms + 999) / 1000;
    const long long deadline = virtual_now_ms(dir_) + virtual_ms;
    const long long real_cap = real_ms() + kRealCapMs;
    while (!cond()) {
        if ((counted ? passes() >= pass_deadline || !daemon_running()
                     : virtual_now_ms(dir_) > deadline) ||
            real_ms() > real_cap) {
            return cond();
        }
        poll_pause();
    }
    return true;
}

bool Board::wait_for_status(const std::string &key, const std::string &value,
                            long long virtual_ms) {
    return wait_until([&] { return status(key) == value; }, virtual_ms);
}

std::optional<JournalLine> Board::wait_for_journal(const std::string &prefix, long long virtual_ms,
                                                   size_t from) {
    std::optional<JournalLine> found;
    wait_until(
        [&] {
            const std::vector<JournalLine> lines = journal();
            for (size_t i = from; i < lines.size() && !found; i++) {
                if (lines[i].text.compare(0, prefix.size(), prefix) == 0) {
                    found = lines[i];
                }
            }
            return found.has_value();
        },
        virtual_ms);
    return found;
}

}  // namespace scenario
