// A small program that touches the simulated board through raw system calls,
// one step (one argument) after another, and prints one line per step: the
// call's result (with what it read), or "err=NAME". The fidelity tests run it
// under `boardsim run`.
//   "w PATH TEXT"        open, write TEXT (\n and \0 unescaped), close
//   "r PATH"             open, read, close
//   "i2c ADDR REG LEN"   one I2C_RDWR on /dev/i2c-0: write REG, read LEN bytes
//   "sleeps"             a LED write before and after each kind of 1000 s sleep
//   "sock"               bind the local socket path, send to it, receive
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <string>

namespace {

void report(long n, const std::string &data = "") {
    if (n < 0) {
        printf("err=%s\n", strerrorname_np(errno));
    } else {
        printf("%ld%s\n", n, data.c_str());
    }
}

// Opens PATH for one call; the call's result, or -1 when the open failed.
template <typename Call>
long with_fd(const char *path, int flags, Call call) {
    const int fd = open(path, flags | O_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    const long n = call(fd);
    const int saved = errno;
    close(fd);
    errno = saved;
    return n;
}

long write_file(const char *path, const std::string &data) {
    return with_fd(path, O_WRONLY, [&](int fd) { return write(fd, data.data(), data.size()); });
}

std::string unescape(const char *s) {
    std::string out;
    for (; *s; ++s) {
        if (s[0] == '\\' && (s[1] == 'n' || s[1] == '0')) {
            out.push_back(*++s == 'n' ? '\n' : '\0');
        } else {
            out.push_back(*s);
        }
    }
    return out;
}

void i2c(const char *args) {
    unsigned addr = 0;
    unsigned char reg = 0;
    unsigned char buf[16] = {};
    unsigned len = 0;
    sscanf(args, "%x %hhx %u", &addr, &reg, &len);
    i2c_msg msgs[2] = {{static_cast<__u16>(addr), 0, 1, &reg},
                       {static_cast<__u16>(addr), I2C_M_RD, static_cast<__u16>(len % 16), buf}};
    i2c_rdwr_ioctl_data data = {msgs, 2};
    const long n =
        with_fd("/dev/i2c-0", O_RDWR, [&](int fd) { return ioctl(fd, I2C_RDWR, &data); });
    std::string hex;
    for (int k = 0; n >= 0 && k < msgs[1].len; ++k) {
        char h[4];
        snprintf(h, sizeof h, " %02x", buf[k]);
        hex += h;
    }
    report(n, hex);
}

void sleeps() {
    const char *led = "/sys/class/leds/usbc1/LineLedControl";
    timespec ts = {1000, 0};
    write_file(led, "1");
    usleep(1000000000);
    write_file(led, "2");
    nanosleep(&ts, nullptr);
    write_file(led, "3");
    sleep(1000);
    write_file(led, "4");
    clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, nullptr);
    write_file(led, "5");
}

void sock() {
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, "/tmp/powerbankserver.socket");
    unlink(addr.sun_path);
    const auto *sa = reinterpret_cast<const sockaddr *>(&addr);
    const int server = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int client = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const char msg[] = "type=SendStatFile\r\nmsg=dcchange\r\n";
    char buf[64];
    report(bind(server, sa, sizeof addr) == 0 &&
                   sendto(client, msg, strlen(msg), 0, sa, sizeof addr) >= 0
               ? recv(server, buf, sizeof buf, 0)
               : -1);
    close(client);
    close(server);
}

}  // namespace

int main(int argc, char **argv) {
    for (int i = 1; i < argc; ++i) {
        const std::string step = argv[i];
        const std::string op = step.substr(0, step.find(' '));
        const std::string args = step.substr(std::min(op.size() + 1, step.size()));
        const std::string path = args.substr(0, args.find(' '));
        const char *text = args.c_str() + std::min(path.size() + 1, args.size());
        if (op == "w") {
            report(write_file(path.c_str(), unescape(text)));
        } else if (op == "r") {
            char buf[64] = {};
            const long n = with_fd(path.c_str(), O_RDONLY,
                                   [&](int fd) { return read(fd, buf, sizeof buf - 1); });
            report(n, " [" + std::string(buf) + "]");
        } else if (op == "i2c") {
            i2c(args.c_str());
        } else if (op == "sleeps" || op == "sock") {
            op == "sleeps" ? sleeps() : sock();
        } else {
            fprintf(stderr, "probe: bad step %s\n", argv[i]);
            return 2;
        }
    }
    return 0;
}
