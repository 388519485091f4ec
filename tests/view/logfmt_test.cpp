// logfmt lines as the views write them come back as the same changes, in
// both time formats; a line that is not one is refused whole.
#include <gtest/gtest.h>

#include <stdio.h>
#include <stdlib.h>

#include <string>
#include <vector>

#include "logfmt.h"

namespace {

using pbview::Change;
using pbview::TimeFormat;

struct Got {
    long long ms;
    std::string name;
    std::string value;
};

void keep(void *ctx, const Change &c) {
    static_cast<std::vector<Got> *>(ctx)->push_back(
        {static_cast<long long>(c.ms), c.name, c.value});
}

std::string written(TimeFormat format, const std::vector<Change> &changes) {
    char *text = nullptr;
    size_t size = 0;
    FILE *out = open_memstream(&text, &size);
    static pbview::LineView view;
    pbview::lines_init(&view, out, format);
    for (const Change &c : changes) {
        pbview::lines_add(&view, c);
    }
    pbview::lines_flush(&view, INT64_MAX);
    fclose(out);
    std::string s(text, size);
    free(text);
    return s;
}

TEST(Logfmt, LinesReadBackAsTheChangesWritten) {
    // 2026-12-06T04:45:06.123Z, and a value that needs every kind of quoting.
    const long long wall = 1796532306123LL;
    const char *odd = "type \"x\"\\\r\n\x01";
    for (TimeFormat format : {TimeFormat::kSeconds, TimeFormat::kWallClock}) {
        const long long t = format == TimeFormat::kSeconds ? 812344 : wall;
        const std::string text =
            written(format, {{t, pbview::kDc, "dc", "down"},
                             {t + 40, pbview::kEventRow, "event", odd},
                             {t + 2500, pbview::kPort1, "port1", "20.00V/3.25A"}});
        SCOPED_TRACE(text);
        std::vector<Got> got;
        size_t at = 0;
        for (size_t nl; (nl = text.find('\n', at)) != std::string::npos; at = nl + 1) {
            TimeFormat read_as{};
            ASSERT_TRUE(pbview::parse_line(text.data() + at, nl - at, keep, &got, &read_as));
            EXPECT_EQ(read_as, format);
        }
        ASSERT_EQ(got.size(), 3u);
        EXPECT_EQ(got[0].ms, t);  // the event shares the line, and its time, of the DC change
        EXPECT_EQ(got[1].value, odd);
        EXPECT_EQ(got[2].ms, t + 2500);
        EXPECT_EQ(got[2].name, "port1");
    }
    EXPECT_EQ(written(TimeFormat::kWallClock, {{wall, pbview::kDc, "dc", "up"}}),
              "t=2026-12-06T04:45:06.123Z dc=up\n");
}

TEST(Logfmt, MalformedLinesGiveNoChanges) {
    for (const char *line :
         {"dc=up", "t= dc=up", "t=12.3x dc=up", "t=12.5 dc", "t=12.5 dc=\"up",
          "t=12.5 event=\"a\\q\"", "t=2026-12-06T04:45:06Z dc=up", "t=12.5 =up"}) {
        std::vector<Got> got;
        EXPECT_FALSE(pbview::parse_line(line, strlen(line), keep, &got, nullptr)) << line;
        EXPECT_TRUE(got.empty()) << line;
    }
    // Words of other names are passed over.
    std::vector<Got> got;
    const char *line = "t=1.5 colour=blue dc=up";
    EXPECT_TRUE(pbview::parse_line(line, strlen(line), keep, &got, nullptr));
    ASSERT_EQ(got.size(), 1u);
    EXPECT_EQ(got[0].ms, 1500);
}

}  // namespace
