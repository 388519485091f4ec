// The companion on the simulated board, against the real daemon: what it
// shows agrees with the store, the recorder's lines come as the board
// changes, set writes only what the daemon reads as meant, and the rpcd
// plugin keeps its contract.
#include <dirent.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "scenario.h"

namespace {

using scenario::Board;
using scenario::RunResult;

const auto npos = std::string::npos;

// Runs python3 on JSON (a program of one expression over `d`); what it prints.
std::string from_json(const Board &b, const std::string &json, const std::string &expression) {
    std::ofstream(b.path("logs/out.json"), std::ios::trunc) << json;
    const RunResult r =
        b.run_process({"/usr/bin/python3", "-c",
                       "import json,sys; d=json.load(open(sys.argv[1])); print(" + expression + ")",
                       b.path("logs/out.json")});
    EXPECT_EQ(r.status, 0) << json << r.err;
    return r.out;
}

// Every file of the configuration directory and its content, sorted.
std::string config_files(const Board &b) {
    std::map<std::string, std::string> files;
    DIR *d = opendir(b.path("config").c_str());
    while (dirent *e = d != nullptr ? readdir(d) : nullptr) {
        if (e->d_name[0] == '.') {
            continue;
        }
        std::ifstream in(b.path("config/") + e->d_name);
        files[e->d_name] = std::string(std::istreambuf_iterator<char>(in), {});
    }
    if (d != nullptr) {
        closedir(d);
    }
    std::string all;
    for (const auto &[name, value] : files) {
        all += name + "=" + value + "\n";
    }
    return all;
}

// Until its first measurement is published.
void start_daemon(Board &b) {
    b.start_daemon(20);
    ASSERT_TRUE(b.wait_until(
        [&] { return b.status("powerbank_total_power_over_current_state").has_value(); }, 30000));
}

TEST(Companion, StatusAgreesWithTheStoreAndNamesWhatIsMissing) {
    Board b;
    for (const char *key : {"DBID_POE1_ENABLE", "DBID_UPS_ENABLE"}) {
        b.set_config(key, "2");
    }
    b.set_config("DBID_POE2_ENABLE", "22");  // too long for the daemon's buffer: off
    b.set_config("DBID_POE_AND_UPS_SET_DElAY", "1000");
    ASSERT_TRUE(b.start_bus());
    ASSERT_EQ(rmdir(b.path("status").c_str()), 0);  // as on a device the daemon never ran on
    const RunResult before = b.ctl({"status"});
    EXPECT_EQ(before.status, 1);
    EXPECT_NE(before.err.find("no status directory " + b.path("status")), npos) << before.err;
    EXPECT_NE(before.out.find("daemon    not on the bus"), npos) << before.out;
    const RunResult no_bus = b.ctl({"-s", b.path("run/none.sock"), "status", "--json"});
    EXPECT_EQ(no_bus.status, 1);
    EXPECT_NE(no_bus.err.find("no bus at " + b.path("run/none.sock")), npos) << no_bus.err;

    start_daemon(b);
    b.dc(false);
    b.bank(1, 20, 3.25);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_1", "4", 30000));
    const RunResult text = b.ctl({"status"});
    EXPECT_EQ(text.status, 0) << text.err;
    for (const char *line :
         {"daemon    running", "\nDC        down\n",
          "\nport 1    20.00V/3.25A  65.0 W, 60 W or more, supplying\n", "\nport 2    none\n",
          "PoE 1 on    PoE 2 off   UPS on", "\n  poe2              off  default  (stored \"22\")\n",
          "\n  delay             0.001 s\n"}) {
        EXPECT_NE(text.out.find(line), npos) << line << "\n" << text.out;
    }
    const RunResult json = b.ctl({"status", "--json"});
    EXPECT_EQ(json.status, 0) << json.err;
    const std::string store = *b.status("dc_input_stat") + " " + *b.status("powerbank_state_1") +
                              " " + *b.status("powerbank1_voltage") + " " +
                              *b.status("powerbank1_electricity") + " " +
                              *b.status("powerbank_total_power_over_current_state");
    EXPECT_EQ(from_json(b, json.out,
                        "d['dc'], d['port1']['state'], '%.2f' % d['port1']['volts'], "
                        "'%.2f' % d['port1']['amps'], d['over_current']['total']['state'], "
                        "d['daemon'], d['outputs']['poe2'], d['settings']['poe2']"),
              store +
                  " True False {'value': 'off', 'default': True, 'stored': '22', 'read': "
                  "'policy pass'}\n");
}

// The log's lines from the first that holds WORD at or after line *AT on
// (*AT moved there); its time, or -1.
struct Log {
    std::vector<std::string> lines;
    long long find(const std::string &word, size_t *at) const {
        for (; *at < lines.size(); ++*at) {
            const std::string &l = lines[*at];  // t=2026-12-06T04:45:06.123Z ...
            if ((l + " ").find(" " + word + " ") != npos) {
                return ((std::stoll(l.substr(10, 2)) * 24 + std::stoll(l.substr(13, 2))) * 60 +
                        std::stoll(l.substr(16, 2))) *
                           60000 +
                       std::stoll(l.substr(19, 2)) * 1000 + std::stoll(l.substr(22, 3));
            }
        }
        return -1;
    }
};

Log read_log(const Board &b) {
    Log log;
    std::ifstream in(b.path("logs/powerbank.log"));
    for (std::string line; std::getline(in, line);) {
        log.lines.push_back(line);
    }
    return log;
}

bool log_has(const Board &b, const std::string &word, size_t from) {
    return read_log(b).find(word, &from) >= 0;
}

// DC goes, a bank comes, POE_1 is flagged; then the daemon stops, the bus
// restarts and the daemon comes back: the recorder follows it all by itself.
TEST(Companion, RecorderLinesFollowTheBoardAndTheDaemon) {
    Board b;
    for (const char *key : {"DBID_POE1_ENABLE", "DBID_POE2_ENABLE", "DBID_UPS_ENABLE"}) {
        b.set_config(key, "2");
    }
    b.set_config("DBID_POE_AND_UPS_SET_DElAY", "1000");
    ASSERT_TRUE(b.start_bus());
    b.start_recorder();
    ASSERT_TRUE(b.wait_until([&] { return log_has(b, "daemon=down", 0); }, 30000));
    start_daemon(b);
    b.dc(false);
    ASSERT_TRUE(b.wait_for_status("dc_input_stat", "down", 30000));
    b.bank(1, 20, 3.25);
    ASSERT_TRUE(b.wait_for_status("powerbank_state_1", "4", 30000));
    b.oc(0x02);
    ASSERT_TRUE(b.wait_until([&] { return log_has(b, "oc_poe1=3", 0); }, 30000));

    b.stop_daemon();
    ASSERT_TRUE(b.wait_until([&] { return log_has(b, "daemon=down", 0); }, 30000));
    b.stop_bus();
    ASSERT_TRUE(b.start_bus());
    start_daemon(b);
    const size_t down = read_log(b).lines.size();
    ASSERT_TRUE(b.wait_until([&] { return log_has(b, "daemon=up", down - 1); }, 30000));
    b.dc(true);
    ASSERT_TRUE(
        b.wait_until([&] { return log_has(b, "event=SendStatFile:dcchange", down); }, 30000))
        << read_log(b).lines.back();

    const Log log = read_log(b);
    ASSERT_FALSE(log.lines.empty());
    EXPECT_NE(log.lines[0].find(" daemon=down"), npos) << log.lines[0];
    // In this order; changes close together may share a line and its time.
    size_t at = 0;
    long long last = 0;
    for (const char *word : {"dc=down", "port1=20.00V/3.25A", "oc_poe1=3", "daemon=down",
                             "daemon=up", "event=SendStatFile:dcchange"}) {
        const long long ms = log.find(word, &at);
        EXPECT_GE(ms, last) << word << " in order, not earlier than the one before";
        last = ms;
    }
}

TEST(Companion, SetRefusesWhatTheDaemonWouldMisreadAndApplyRestartsIt) {
    Board b;
    b.set_config("DBID_POE_AND_UPS_SET_DElAY", "1000");
    start_daemon(b);
    ASSERT_EQ(b.get("pse1_ctrl"), "1");  // no mode: always off
    const std::string before = config_files(b);
    const std::vector<std::vector<std::string>> bad = {
        {"poe1=22"},           {"delay=abc"},          {"delay=1000"},
        {"delay=0"},           {"delay=0.0000001"},    {"ups_threshold=10000"},
        {"poe1_threshold=-1"}, {"detection_time=256"}, {"dc_absent_passes=31"},
        {"debug=yes"},         {"nosuch=1"},           {"ups=on", "poe2=22"}};
    for (const auto &args : bad) {
        std::vector<std::string> argv = {"set"};
        argv.insert(argv.end(), args.begin(), args.end());
        const RunResult r = b.ctl(argv);
        const std::string name = args.back().substr(0, args.back().find('='));
        EXPECT_EQ(r.status, 2) << args.back();
        EXPECT_NE(r.err.find(name), npos) << r.err;
        EXPECT_TRUE(r.err.find("accepted") != npos || r.err.find("is no setting: poe1") != npos)
            << r.err;
    }
    EXPECT_EQ(config_files(b), before);

    // The restart command stops the daemon; the test starts it again, as
    // procd does.
    const RunResult r = b.ctl({"set", "poe1=on", "--apply"}, "",
                              {"POWERBANK_RESTART=kill " + std::to_string(b.daemon_pid())});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("ports re-detected"), npos) << r.out;
    ASSERT_TRUE(b.wait_until([&] { return !b.daemon_running(); }, 30000));
    b.start_daemon(20);
    EXPECT_TRUE(b.wait_until([&] { return b.get("pse1_ctrl") == "0"; }, 30000));
}

TEST(Companion, RpcdPluginListsItsMethodsAndAnswersCalls) {
    Board b;
    ASSERT_TRUE(b.start_bus());
    start_daemon(b);
    const RunResult list = b.ctl({"rpcd", "list"});
    EXPECT_EQ(from_json(b, list.out,
                        "sorted(d), type(d['set']['poe1']).__name__, "
                        "type(d['set']['poe1_threshold']).__name__, d['set']['apply'], d['log']"),
              "['log', 'set', 'status'] str int False {'lines': 20}\n");

    const RunResult status = b.ctl({"rpcd", "call", "status"});
    EXPECT_EQ(status.out, b.ctl({"status", "--json"}).out);
    const std::string before = config_files(b);
    const RunResult refused = b.ctl({"rpcd", "call", "set"}, R"({"ups": "on", "poe1": "22"})");
    EXPECT_NE(from_json(b, refused.out, "d['error']").find("poe1=22 refused"), npos);
    EXPECT_EQ(config_files(b), before);
    const RunResult set = b.ctl({"rpcd", "call", "set"}, R"({"ups": "on", "delay": 0.5})");
    EXPECT_EQ(from_json(b, set.out, "d['written'], d['applied']"), "['ups', 'delay'] False\n");
    EXPECT_EQ(config_files(b), "DBID_POE_AND_UPS_SET_DElAY=500000\nDBID_UPS_ENABLE=1\n");

    std::ofstream(b.path("logs/powerbank.log")) << "t=2026-12-06T04:45:06.123Z dc=up\n"
                                                   "t=2026-12-06T04:45:07.000Z dc=down\n"
                                                   "t=2026-12-06T04:45:08.000Z oc_poe1=3\n";
    const RunResult log = b.ctl({"rpcd", "call", "log"}, R"({"lines": 2})");
    EXPECT_EQ(from_json(b, log.out, "d['lines']"),
              "['t=2026-12-06T04:45:07.000Z dc=down', 't=2026-12-06T04:45:08.000Z oc_poe1=3']\n");
}

}  // namespace
