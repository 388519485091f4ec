// The store's reading: each input is a key to check and a stored value to
// read back. Input: one byte giving the buffer size, the key up to the first
// NUL, then the content of the value's file.
#include <devmgr.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include <string>

namespace {

std::string dir, file;

void remove_dir() {
    unlink(file.c_str());
    rmdir(dir.c_str());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (dir.empty()) {
        // In memory where there is such a place: the target writes a file per input.
        char shm[] = "/dev/shm/pbfuzz.XXXXXX", tmp[] = "/tmp/pbfuzz.XXXXXX";
        dir = mkdtemp(shm) != nullptr ? shm : mkdtemp(tmp);
        file = dir + "/DBID_FUZZ";
        setenv("DEVMGR_CONFIG_DIR", dir.c_str(), 1);
        atexit(remove_dir);
    }
    if (size == 0) {
        return 0;
    }
    const size_t room = data[0];
    const char *rest = reinterpret_cast<const char *>(data + 1);
    const std::string in(rest, size - 1);
    const std::string key = in.substr(0, in.find('\0'));
    const std::string content = key.size() < in.size() ? in.substr(key.size() + 1) : "";

    // A valid key is a plain name inside the store's directory.
    const bool valid = devmgr_key_valid(key.c_str());
    if (valid && (key.size() > 64 || key[0] == '.' || key.find('/') != std::string::npos)) {
        abort();
    }
    char buf[256];
    if ((devmgr_cfg_get(key.c_str(), buf, sizeof buf) == DEVMGR_BAD_KEY) == valid) {
        abort();
    }

    // The value is read whole or not at all, never cut or cut short at a NUL.
    const int fd = open(file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (fd < 0 || write(fd, content.data(), content.size()) != (ssize_t)content.size()) {
        abort();
    }
    close(fd);
    std::string value = content;
    if (!value.empty() && value.back() == '\n') {
        value.pop_back();
    }
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
