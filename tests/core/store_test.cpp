// The store's contract: other tools on the device read and write the same
// files, so the file format and the key rules are checked here directly.
#include <devmgr.h>
#include <dirent.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/ptrace.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <sys/wait.h>

#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "store/store.h"
#include "temp_store.h"

namespace {

std::string read_file(const std::string &path) {
    std::ifstream f(path, std::ios::binary);
    std::stringstream ss;
    ss << f.rdbuf();
    return ss.str();
}

void write_file(const std::string &path, const std::string &content) {
    std::ofstream(path, std::ios::binary) << content;
}

// Names in a directory, temporary files included.
int entries(const std::string &dir) {
    DIR *d = opendir(dir.c_str());
    if (d == nullptr) {
        return 0;
    }
    int n = 0;
    while (dirent *e = readdir(d)) {
        if (std::string(e->d_name) != "." && std::string(e->d_name) != "..") {
            n++;
        }
    }
    closedir(d);
    return n;
}

struct ToolResult {
    int status;
    std::string out, err;
};

ToolResult run_tool(const std::string &args) {
    char tmpl[] = "/tmp/pbtool.XXXXXX";
    std::string dir = mkdtemp(tmpl);
    // A cross build runs the tool through its emulator.
    const char *emulator = getenv("POWERBANK_EMULATOR");
    // A tool that waits on a file at a key fails the test instead of hanging it.
    std::string cmd = std::string("timeout 30 ") + (emulator ? emulator : "") + " " + DEVMGR_TOOL +
                      " " + args + " >" + dir + "/out 2>" + dir + "/err";
    int rc = system(cmd.c_str());
    ToolResult r{WIFEXITED(rc) ? WEXITSTATUS(rc) : -1, read_file(dir + "/out"),
                 read_file(dir + "/err")};
    [[maybe_unused]] int ignored = system(("rm -rf " + dir).c_str());
    return r;
}

TEST(Store, ValueRoundTripsAsThePlainFileContent) {
    TempStore store;
    ASSERT_EQ(devmgr_cfg_set("DBID_POE1_ENABLE", "2"), DEVMGR_OK);
    EXPECT_EQ(read_file(store.config() + "/DBID_POE1_ENABLE"), "2");
    char value[2] = {};
    EXPECT_EQ(dev_manager_cfg_get("DBID_POE1_ENABLE", value), DEVMGR_OK);
    EXPECT_STREQ(value, "2");

    ASSERT_EQ(dev_manager_status_set("dc_input_stat", "down"), DEVMGR_OK);
    EXPECT_EQ(read_file(store.status() + "/dc_input_stat"), "down");
    ASSERT_EQ(dev_manager_status_set("dc_input_stat", "up"), DEVMGR_OK);
    EXPECT_EQ(read_file(store.status() + "/dc_input_stat"), "up");
    EXPECT_EQ(entries(store.status()), 1) << "no temporary file may be left behind";
    // The same value again is no change: a watcher of the directory hears nothing.
    struct stat before, after;
    ASSERT_EQ(stat((store.status() + "/dc_input_stat").c_str(), &before), 0);
    ASSERT_EQ(dev_manager_status_set("dc_input_stat", "up"), DEVMGR_OK);
    ASSERT_EQ(stat((store.status() + "/dc_input_stat").c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST(Store, AbsentKeyLeavesTheBufferEmpty) {
    TempStore store;
    char value[5] = {'x', 'x', 'x', 'x', '\0'};
    EXPECT_EQ(dev_manager_cfg_get("DBID_POE1_THRESHOLD", value), DEVMGR_ABSENT);
    EXPECT_STREQ(value, "");
}

TEST(Store, BadKeysAreRefusedAndNothingIsWritten) {
    TempStore store;
    const std::string too_long(65, 'K');
    const char *bad[] = {"",     too_long.c_str(), "a/b", "..",   ".hidden",   "../escape",
                         "a\nb", "tab\there",      "a b", "\x7f", "semi;colon"};
    for (const char *key : bad) {
        EXPECT_EQ(devmgr_key_valid(key), 0) << key;
        EXPECT_EQ(devmgr_cfg_set(key, "1"), DEVMGR_BAD_KEY) << key;
        EXPECT_EQ(devmgr_status_set(key, "1"), DEVMGR_BAD_KEY) << key;
        char value[4] = {};
        EXPECT_EQ(devmgr_cfg_get(key, value, sizeof value), DEVMGR_BAD_KEY) << key;
    }
    EXPECT_EQ(entries(store.config()), 0);
    EXPECT_EQ(entries(store.status()), 0);
    EXPECT_EQ(entries(store.config() + "/.."), 1) << "nothing may escape the directory";

    const std::string longest(64, 'K');
    EXPECT_EQ(devmgr_cfg_set(longest.c_str(), "1"), DEVMGR_OK);
    EXPECT_EQ(devmgr_cfg_set("a.b-c_D9", "1"), DEVMGR_OK);
}

// A reader in a loop must see either the old or the new value, never a mix or
// a cut, however often a writer replaces it. It reads on until it has seen
// the value change many times: a writer that never ran proves nothing.
TEST(Store, ReaderNeverSeesHalfAValue) {
    TempStore store;
    const std::string a(300, 'a'), b(200, 'b');
    ASSERT_EQ(devmgr_status_set("powerbank_state_1", a.c_str()), DEVMGR_OK);
    pid_t writer = fork();
    ASSERT_GE(writer, 0);
    if (writer == 0) {
        for (int i = 0;; i++) {
            devmgr_status_set("powerbank_state_1", (i & 1) ? a.c_str() : b.c_str());
        }
    }
    int torn = 0, changes = 0;
    std::string last = a;
    for (int i = 0; i < 1000000 && (i < 3000 || changes < 100); i++) {
        char value[512] = {};
        if (devmgr_status_get("powerbank_state_1", value, sizeof value) != DEVMGR_OK ||
            (value != a && value != b)) {
            torn++;
        } else if (value != last) {
            changes++;
            last = value;
        }
    }
    kill(writer, SIGKILL);
    waitpid(writer, nullptr, 0);
    EXPECT_EQ(torn, 0);
    EXPECT_GE(changes, 100);
}

TEST(Store, StatusDirectoryIsCreatedWhenMissing) {
    TempStore store;
    ASSERT_NE(access(store.status().c_str(), F_OK), 0) << "the directory is there already";
    EXPECT_EQ(dev_manager_status_set("powerbank_state_2", "5"), DEVMGR_OK);
    EXPECT_EQ(read_file(store.status() + "/powerbank_state_2"), "5");
}

// System calls FN makes, counted by tracing a child that runs it; -1 where
// tracing is not allowed (qemu-user has no ptrace). The stop that starts the
// count and the exit that ends it cost the same in every count. getrandom is
// left out: glibc's mkostemp draws from it when the name it made from the
// clock falls in a biased range, about one name in twenty, whatever the
// directory holds.
long syscalls_of(const std::function<void()> &fn) {
    const pid_t child = fork();
    if (child == 0) {
        if (ptrace(PTRACE_TRACEME, 0, nullptr, nullptr) == 0 && raise(SIGSTOP) == 0) {
            fn();
        }
        _exit(0);
    }
    int st = 0;
    if (child < 0 || waitpid(child, &st, 0) != child || !WIFSTOPPED(st)) {
        return -1;
    }
    ptrace(PTRACE_SETOPTIONS, child, nullptr, PTRACE_O_TRACESYSGOOD | PTRACE_O_EXITKILL);
    long calls = 0;
    while (ptrace(PTRACE_SYSCALL, child, nullptr, nullptr) == 0 &&
           waitpid(child, &st, 0) == child && WIFSTOPPED(st)) {
        __ptrace_syscall_info call = {};
        calls += WSTOPSIG(st) == (SIGTRAP | 0x80) &&
                 ptrace(PTRACE_GET_SYSCALL_INFO, child, sizeof call, &call) > 0 &&
                 call.op == PTRACE_SYSCALL_INFO_ENTRY && call.entry.nr != SYS_getrandom;
    }
    return calls;
}

// A writer killed between creating its temporary file and renaming it leaves
// the file; the first write of a process to the directory removes it once it
// is stale and leaves a fresh one (a writer at work) alone. That sweep is the
// only write whose cost grows with the directory: the next ones cost the same
// system calls in a directory of 10,000 files as in an empty one.
TEST(Store, FirstWriteSweepsStaleTemporaryFilesThenEveryWriteCostsTheSame) {
    TempStore store;
    ASSERT_EQ(mkdir(store.status().c_str(), 0755), 0);
    for (int i = 0; i < 10000; i++) {  // fresh ones
        write_file(store.status() + "/.key" + std::to_string(i) + ".a1B2c3", "");
    }
    const std::string stale = store.status() + "/.powerbank_state_1.a1B2c3";
    const std::string other = store.status() + "/.not.a.temp";
    const timeval two_minutes_ago[2] = {{time(nullptr) - 120, 0}, {time(nullptr) - 120, 0}};
    for (const std::string &f : {stale, other}) {
        write_file(f, "2");
        ASSERT_EQ(utimes(f.c_str(), two_minutes_ago), 0);
    }
    ASSERT_EQ(devmgr_status_set("dc_input_stat", "up"), DEVMGR_OK);
    EXPECT_NE(access(stale.c_str(), F_OK), 0);
    EXPECT_EQ(entries(store.status()), 10002) << "the fresh ones, the other name and the key";

    ASSERT_EQ(devmgr_cfg_set("DBID_POE1_ENABLE", "1"), DEVMGR_OK);
    const long in_empty = syscalls_of([] { devmgr_cfg_set("DBID_POE1_ENABLE", "2"); });
    const long in_full = syscalls_of([] { devmgr_status_set("dc_input_stat", "down"); });
    if (in_empty < 0) {
        GTEST_SKIP() << "no ptrace here to count system calls";
    }
    EXPECT_EQ(in_full, in_empty);
    EXPECT_EQ(read_file(store.status() + "/dc_input_stat"), "down");
}

TEST(StoreTool, ExitStatusAndOutputFollowTheContract) {
    TempStore store;
    auto set = run_tool("set DBID_POE1_ENABLE 1");
    EXPECT_EQ(set.status, 0);
    EXPECT_EQ(read_file(store.config() + "/DBID_POE1_ENABLE"), "1");

    auto get = run_tool("get DBID_POE1_ENABLE");
    EXPECT_EQ(get.status, 0);
    EXPECT_EQ(get.out, "1\n");

    auto bad = run_tool("set ../x 1");
    EXPECT_EQ(bad.status, 2);
    EXPECT_NE(bad.err.find("bad key"), std::string::npos);
    EXPECT_EQ(entries(store.config()), 1);

    EXPECT_EQ(run_tool("").status, 2);
    EXPECT_EQ(run_tool("set ONLYKEY").status, 2);
    auto typo = run_tool("lsit");
    EXPECT_EQ(typo.status, 2);
    EXPECT_NE(typo.err.find("\"lsit\"; the nearest is \"list\""), std::string::npos) << typo.err;
    EXPECT_NE(typo.err.find("devmgr --help"), std::string::npos) << typo.err;

    EXPECT_EQ(run_tool("set DBID_POE2_ENABLE 2").status, 0);
    EXPECT_EQ(run_tool("list").out, "DBID_POE1_ENABLE=1\nDBID_POE2_ENABLE=2\n");
    EXPECT_EQ(run_tool("unset DBID_POE1_ENABLE").status, 0);
    EXPECT_EQ(run_tool("unset DBID_POE1_ENABLE").status, 1);

    // Nothing stored yet: the tool names the directory it looked at.
    for (const char *args : {"status", "status dc_input_stat"}) {
        auto none = run_tool(args);
        EXPECT_EQ(none.status, 1);
        EXPECT_NE(none.err.find(store.status() + " does not exist (DEVMGR_STATUS_DIR"),
                  std::string::npos)
            << none.err;
    }
    ASSERT_EQ(devmgr_status_set("dc_input_stat", "up"), DEVMGR_OK);
    EXPECT_EQ(run_tool("status dc_input_stat").out, "up\n");
    EXPECT_EQ(run_tool("status").out, "dc_input_stat=up\n");
    EXPECT_EQ(run_tool("status powerbank_state_1").status, 1);
    auto wrong_area = run_tool("get dc_input_stat");  // absent as configuration
    EXPECT_EQ(wrong_area.status, 1);
    EXPECT_NE(wrong_area.err.find("devmgr status dc_input_stat"), std::string::npos);

    setenv("DEVMGR_CONFIG_DIR", (store.config() + "/no/such").c_str(), 1);
    auto nowhere = run_tool("set DBID_POE1_ENABLE 1");
    EXPECT_EQ(nowhere.status, 2);
    EXPECT_NE(nowhere.err.find(store.config() + "/no/such does not exist"), std::string::npos)
        << nowhere.err;
}

// Values the tool cannot print whole are refused with a reason; a FIFO at a
// key is an absent key, and neither get nor list waits on it.
TEST(StoreTool, ValuesItCannotPrintAndFilesThatAreNoValues) {
    TempStore store;
    write_file(store.config() + "/DBID_POE1_ENABLE", std::string("1\0", 2));
    write_file(store.config() + "/DBID_POE2_ENABLE", std::string(DEVMGR_VALUE_MAX + 1, '7'));
    write_file(store.config() + "/DBID_UPS_ENABLE", std::string(DEVMGR_VALUE_MAX, '7') + "\n");
    ASSERT_EQ(mkfifo((store.config() + "/DBID_POWERBANK_DEBUG").c_str(), 0644), 0);

    auto nul = run_tool("get DBID_POE1_ENABLE");
    EXPECT_EQ(nul.status, 2);
    EXPECT_NE(nul.err.find("NUL"), std::string::npos) << nul.err;
    auto too_long = run_tool("get DBID_POE2_ENABLE");
    EXPECT_EQ(too_long.status, 2);
    EXPECT_NE(too_long.err.find("limit of 4096 bytes"), std::string::npos) << too_long.err;
    EXPECT_EQ(run_tool("get DBID_UPS_ENABLE").out, std::string(DEVMGR_VALUE_MAX, '7') + "\n");
    EXPECT_EQ(run_tool("set DBID_UPS_ENABLE " + std::string(DEVMGR_VALUE_MAX + 1, '7')).status, 2);

    auto fifo = run_tool("get DBID_POWERBANK_DEBUG");
    EXPECT_EQ(fifo.status, 1);
    EXPECT_NE(fifo.err.find("DBID_POWERBANK_DEBUG is a FIFO"), std::string::npos) << fifo.err;
    auto list = run_tool("list");
    EXPECT_EQ(list.status, 2);
    EXPECT_EQ(list.out, "DBID_UPS_ENABLE=" + std::string(DEVMGR_VALUE_MAX, '7') + "\n");
    EXPECT_NE(list.err.find("is a FIFO"), std::string::npos) << list.err;
}

}  // namespace
