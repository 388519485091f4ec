// The display states and measurements published to the store, in-process on a
// throw-away status directory. Cases that would run the re-detection (DC absent
// with both ports empty) need the board and live in the board scenarios.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <optional>
#include <sstream>
#include <string>

#include "led/display.h"
#include "led_fixture.h"

namespace {

class Display : public ::testing::Test {
protected:
    void SetUp() override {
        char tmpl[] = "/tmp/pbled-status.XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        setenv("DEVMGR_STATUS_DIR", dir_.c_str(), 1);
    }
    void TearDown() override {
        unsetenv("DEVMGR_STATUS_DIR");
        std::string cmd = "rm -rf '" + dir_ + "'";
        [[maybe_unused]] int rc = system(cmd.c_str());
    }
    void clear() {
        std::string cmd = "rm -f '" + dir_ + "'/*";
        [[maybe_unused]] int rc = system(cmd.c_str());
    }
    std::optional<std::string> status(const char *key) const {
        std::ifstream in(dir_ + "/" + key);
        if (!in) {
            return std::nullopt;
        }
        std::stringstream ss;
        ss << in.rdbuf();
        std::string v = ss.str();
        if (!v.empty() && v.back() == '\n') {
            v.pop_back();
        }
        return v;
    }
    std::string dir_;
};

using Opt = std::optional<std::string>;

TEST_F(Display, StateOfEachPortByDcAttachmentAndType) {
    const Opt none;
    struct Case {
        int dc, connect1, type1, connect2, type2;
        Opt state1, state2;
    } cases[] = {
        {1, 1, 1, 1, 2, "1", "2"},
        {1, 0, 0, 1, 1, "0", "1"},
        {1, 0, 0, 0, 0, "0", "0"},
        {0, 1, 1, 1, 2, "4", "5"},
        {0, 1, 2, 0, 0, "5", "0"},
        {-1, 0, 0, 1, 1, "0", "4"},  // DC unknown counts as absent
        // Not yet detected, or attached with no usable type: key left alone.
        {1, -1, 0, 1, 2, none, "2"},
        {0, 1, 1, -1, 0, "4", none},
        {1, 1, 0, 0, 0, none, "0"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "dc " << c.dc << " port1 " << c.connect1 << "/"
                                        << c.type1 << " port2 " << c.connect2 << "/" << c.type2);
        clear();
        powerbank_state s = make_state(c.dc, c.connect1, c.type1, c.connect2, c.type2);
        EXPECT_EQ(powebank_update_powerbank_display_state(&s), 0);
        EXPECT_EQ(status("powerbank_state_1"), c.state1);
        EXPECT_EQ(status("powerbank_state_2"), c.state2);
        // The measurements go out whatever the states.
        EXPECT_EQ(status("powerbank1_voltage"), Opt("0.00"));
        EXPECT_EQ(status("powerbank2_electricity"), Opt("0.00"));
    }
}

TEST_F(Display, AnUndetectedPortKeepsItsPreviousState) {
    powerbank_state s = make_state(0, 1, 1, 1, 2);
    ASSERT_EQ(powebank_update_powerbank_display_state(&s), 0);
    s = make_state(0, -1, 0, -1, 0);
    ASSERT_EQ(powebank_update_powerbank_display_state(&s), 0);
    EXPECT_EQ(status("powerbank_state_1"), Opt("4"));
    EXPECT_EQ(status("powerbank_state_2"), Opt("5"));
}

TEST_F(Display, MeasurementsHaveTwoDecimalsInNineCharacters) {
    powerbank_state s = make_state(1, 1, 1, 1, 2);
    s.powerbank1_voltage = 20.0;
    s.powerbank1_electricity = 3.25;
    s.powerbank2_voltage = 5.0;
    s.powerbank2_electricity = 123456789.0;
    ASSERT_EQ(powebank_update_powerbank_display_state(&s), 0);
    EXPECT_EQ(status("powerbank1_voltage"), Opt("20.00"));
    EXPECT_EQ(status("powerbank1_electricity"), Opt("3.25"));
    EXPECT_EQ(status("powerbank2_voltage"), Opt("5.00"));
    EXPECT_EQ(status("powerbank2_electricity"), Opt("123456789"));
}

TEST_F(Display, NullRecordPublishesNothing) {
    EXPECT_EQ(powebank_update_powerbank_display_state(nullptr), -1);
    EXPECT_EQ(status("powerbank1_voltage"), std::nullopt);
}

}  // namespace
