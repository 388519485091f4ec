// The change log's file: bounded, the oldest half dropped, and never in the
// recorder's way.
#include "logfile.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <fstream>
#include <string>
#include <vector>

#include "logfmt.h"

namespace {

using namespace powerbankctl;

std::string at(int64_t ms) {
    char t[40];
    pbview::format_time(t, sizeof t, ms, pbview::TimeFormat::kWallClock);
    return std::string("t=") + t;
}

TEST(LogFile, KeepsTheNewestHalfOfItsLines) {
    char dir[] = "/tmp/pblog.XXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    const std::string path = std::string(dir) + "/powerbank.log";
    static LogFile log;
    log_init(&log, path.c_str(), 4096);
    const int64_t t0 = 1796532306000;  // 2026-12-06
    std::vector<std::string> written;
    int trims = 0;
    for (int i = 0; i < 200; ++i) {
        written.push_back(at(t0 + i * 1000) + " oc_poe1=" + (i % 2 ? "3" : "1") +
                          " event=SendStatFile:batterychange");
        trims += log_append(&log, (written.back() + "\n").c_str(), written.back().size() + 1);
    }
    log_close(&log);
    EXPECT_GE(trims, 3);

    std::ifstream in(path);
    std::vector<std::string> kept;
    for (std::string line; std::getline(in, line);) {
        kept.push_back(line);
    }
    struct stat st;
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_LE(st.st_size, 4096);
    EXPECT_GE(st.st_size, 2048 - 100);
    // The newest lines, whole and in order.
    ASSERT_GE(kept.size(), 2u);
    EXPECT_TRUE(
        std::equal(kept.begin(), kept.end(), written.end() - static_cast<long>(kept.size())));

    // A missing directory or a FIFO at the path cost the line, nothing more.
    static LogFile lost;
    const std::string missing = std::string(dir) + "/none/powerbank.log";
    log_init(&lost, missing.c_str(), 4096);
    log_append(&lost, "t=x\n", 4);
    const std::string fifo = std::string(dir) + "/fifo";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    log_init(&lost, fifo.c_str(), 4096);
    log_append(&lost, "t=x\n", 4);
    EXPECT_EQ(system(("rm -rf " + std::string(dir)).c_str()), 0);
}

}  // namespace
