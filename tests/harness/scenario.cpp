// The scenario harness: boards, their store, inputs and outputs, the journal
// and waits in virtual time.
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
