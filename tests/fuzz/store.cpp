// The store's reading: each input is a key to check and a stored value to
// read back. Input: one byte giving the buffer size, the key up to the first
// NUL, then the content of the value's file.
#include <devmgr.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <fstream>
#include <string>

namespace {

std::string dir;

void remove_dir() {
    unlink((dir + "/DBID_FUZZ").c_str());
    rmdir(dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (dir.empty()) {
        // In memory where there is such a place: every input writes a file.
        char shm[] = "/dev/shm/pbfuzz.XXXXXX", tmp[] = "/tmp/pbfuzz.XXXXXX";
        dir = mkdtemp(shm) != nullptr ? shm : mkdtemp(tmp);
        setenv("DEVMGR_CONFIG_DIR", dir.c_str(), 1);
        atexit(remove_dir);
    }
    const std::string in(reinterpret_cast<const char *>(data), size);
    const size_t room = size > 0 ? data[0] : 0;
    const std::string key = in.substr(size > 0, in.find('\0', 1) - 1);
    const std::string content = in.substr(std::min(size, key.size() + 2));

    // A valid key is a plain name inside the store's directory.
    const bool valid = devmgr_key_valid(key.c_str());
    char buf[256];
    if ((valid && (key.size() > 64 || key[0] == '.' || key.find('/') != key.npos)) ||
        (devmgr_cfg_get(key.c_str(), buf, sizeof buf) == DEVMGR_BAD_KEY) == valid) {
        abort();
    }

    // The value is read whole or not at all: never cut, never cut short at a NUL.
    std::ofstream(dir + "/DBID_FUZZ", std::ios::binary | std::ios::trunc) << content;
    const std::string value =
        content.substr(0, content.size() - (!content.empty() && content.back() == '\n'));
    const int expected = room == 0                        ? DEVMGR_ERROR
                         : value.size() >= room           ? DEVMGR_TOO_LONG
                         : value.find('\0') != value.npos ? DEVMGR_NOT_TEXT
                                                          : DEVMGR_OK;
    memset(buf, 'x', sizeof buf);
    const int r = devmgr_cfg_get("DBID_FUZZ", buf, room);
    if (r != expected || (room > 0 && buf != (r == DEVMGR_OK ? value : ""))) {
        abort();
    }
    return 0;
}
