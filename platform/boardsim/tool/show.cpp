// show and get: the board as a person reads it, and one model value.
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "board_files.h"
#include "board_model.h"
#include "panel.h"
#include "tool.h"

using namespace boardsim;

namespace boardsim_tool {

namespace {

// The file behind a `get` name, or null.
bool resolve(const char *name, char *rel, size_t size) {
    static const struct {
        const char *prefix;
        const char *dir;
    } kAliases[] = {
        {"pse1_ctrl", "mcu/"},    {"pse2_ctrl", "mcu/"}, {"ups_ctrl", "mcu/"},
        {"mcu_led/", "mcu/led/"}, {"reg/", "mcu/reg/"},  {"req/", "mcu/req/"},
        {"led/", "led/"},         {"gpio", "gpio/gpio"}, {"dc", "in/"},
        {"adc/", "in/adc/"},
    };
    if (strstr(name, "..") != nullptr || name[0] == '/') {
        return false;
    }
    for (const auto &a : kAliases) {
        size_t n = strlen(a.prefix);
        if (strncmp(name, a.prefix, n) == 0) {
            bool keep = a.prefix[n - 1] != '/' && strcmp(a.dir, "gpio/gpio") != 0;
            const char *rest = keep ? name : name + n;
            return snprintf(rel, size, "%s%s", a.dir, rest) < static_cast<int>(size);
        }
    }
    return false;
}

}  // namespace

int cmd_get(const char *dir, const char *name) {
    char rel[128];
    char buf[4096];
    char path[kPathMax];
    if (!resolve(name, rel, sizeof rel)) {
        return usage_of("get NAME",
                        "get: unknown name '%s' (names: dc, adc/CH, reg/RR, req/FILE, pse1_ctrl, "
                        "pse2_ctrl, ups_ctrl, mcu_led/N, led/usbcN, gpioN/direction, gpioN/value)",
                        name);
    }
    if (!path_join(path, sizeof path, dir, rel) || read_file(path, buf, sizeof buf) < 0) {
        return kFailed;
    }
    size_t n = strlen(buf);
    if (n > 0 && buf[n - 1] == '\n') {
        buf[n - 1] = '\0';
    }
    printf("%s\n", buf);
    return kOk;
}

int cmd_show(const char *dir) {
    static BoardModel model;
    Clock clock;
    if (!replay_board(dir, &model, &clock)) {
        return kFailed;
    }
    static Panel panel;
    panel_render(model, dir, clock, Panel::kLines, "", &panel);
    for (int i = 0; i < panel.count; ++i) {
        printf("%s\n", panel.lines[i]);
    }
    return kOk;
}

}  // namespace boardsim_tool
