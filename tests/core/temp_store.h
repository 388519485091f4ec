// A throw-away store for one test: its own config and status directories,
// pointed at through the environment the store library reads.
#pragma once

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>

class TempStore {
public:
    TempStore() {
        char tmpl[] = "/tmp/pbstore.XXXXXX";
        root_ = mkdtemp(tmpl);
        config_ = root_ + "/config";
        status_ = root_ + "/status";
        mkdir(config_.c_str(), 0755);
        setenv("DEVMGR_CONFIG_DIR", config_.c_str(), 1);
        setenv("DEVMGR_STATUS_DIR", status_.c_str(), 1);
    }
    ~TempStore() {
        std::string cmd = "rm -rf '" + root_ + "'";
        [[maybe_unused]] int rc = system(cmd.c_str());
        unsetenv("DEVMGR_CONFIG_DIR");
        unsetenv("DEVMGR_STATUS_DIR");
    }
    const std::string &config() const { return config_; }
    const std::string &status() const { return status_; }

private:
    std::string root_, config_, status_;
};
