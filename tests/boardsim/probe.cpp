// A small program that touches the simulated board the way the daemon and
// common tools do, and prints what it saw. The fidelity tests run it under
// `boardsim run`.
//
//   probe write PATH TEXT          open/write/close; TEXT may hold \n and \0
//   probe read PATH                open/read/close
//   probe mcu-read PATH REQ FMT    fopen "w+" REQ, then fopen "r" and fscanf FMT
//   probe i2c ADDR REG LEN         one I2C_RDWR: write REG, read LEN bytes
//   probe access PATH
//   probe sleeps                   a LED write between each kind of 5 s sleep
//   probe sock                     bind the local socket path, send to it, receive
//   probe threads N                three threads writing and reading board files
//   probe i2c-many N               one I2C_RDWR with N one-byte reads of 0x43
//   probe i2c-plain ADDR REG LEN   I2C_SLAVE, then write REG and read LEN bytes
//   probe reread PATH              read, read on, seek back and read, pread at 1
//   probe sock-connected           connect to the local socket path and send()
#include <errno.h>
#include <fcntl.h>
#include <linux/i2c-dev.h>
#include <linux/i2c.h>
#include <pthread.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

#include <string>

namespace {

std::string unescape(const char *s) {
    std::string out;
    for (; *s; ++s) {
        if (*s == '\\' && s[1] == 'n') {
            out.push_back('\n');
            ++s;
        } else if (*s == '\\' && s[1] == '0') {
            out.push_back('\0');
            ++s;
        } else {
            out.push_back(*s);
        }
    }
    return out;
}

int report_errno() {
    printf("err=%s\n", strerrorname_np(errno));
    return 0;
}

int do_write(const char *path, const char *text) {
    std::string data = unescape(text);
    int fd = open(path, O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        return report_errno();
    }
    ssize_t n = write(fd, data.data(), data.size());
    if (n < 0) {
        report_errno();
    } else {
        printf("wrote %zd\n", n);
    }
    close(fd);
    return 0;
}

int do_read(const char *path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return report_errno();
    }
    char buf[64] = {};
    ssize_t n = read(fd, buf, sizeof buf - 1);
    if (n < 0) {
        report_errno();
    } else {
        printf("read %zd [%s]\n", n, buf);
    }
    close(fd);
    return 0;
}

int do_mcu_read(const char *path, const char *request, const char *format) {
    std::string req = unescape(request);
    if (FILE *f = fopen(path, "w+")) {
        fputs(req.c_str(), f);
        fflush(f);
        fclose(f);
    }
    FILE *f = fopen(path, "r");
    if (f == nullptr) {
        return report_errno();
    }
    unsigned value = 0;
    int got = fscanf(f, format, &value);
    fclose(f);
    printf("got %d value %u\n", got, value);
    return 0;
}

int do_i2c(const char *addr_text, const char *reg_text, const char *len_text) {
    unsigned char reg = static_cast<unsigned char>(strtoul(reg_text, nullptr, 16));
    unsigned char buf[16] = {};
    struct i2c_msg msgs[2] = {
        {static_cast<__u16>(strtoul(addr_text, nullptr, 16)), 0, 1, &reg},
        {static_cast<__u16>(strtoul(addr_text, nullptr, 16)), I2C_M_RD,
         static_cast<__u16>(atoi(len_text)), buf},
    };
    struct i2c_rdwr_ioctl_data data = {msgs, 2};
    int fd = open("/dev/i2c-0", O_RDWR | O_CLOEXEC);
    if (fd < 0) {
        return report_errno();
    }
    int r = ioctl(fd, I2C_RDWR, &data);
    if (r < 0) {
        report_errno();
    } else {
        printf("ret %d bytes", r);
        for (int i = 0; i < msgs[1].len; ++i) {
            printf(" %02x", buf[i]);
        }
        printf("\n");
    }
    close(fd);
    return 0;
}

void led(const char *text) {
    int fd = open("/sys/class/leds/usbc1/LineLedControl", O_WRONLY | O_CLOEXEC);
    if (fd >= 0) {
        ssize_t n = write(fd, text, strlen(text));
        (void)n;
        close(fd);
    }
}

int do_sleeps() {
    led("1");
    usleep(5000000);
    led("2");
    struct timespec ts = {5, 0};
    nanosleep(&ts, nullptr);
    led("3");
    sleep(5);
    led("4");
    clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, nullptr);
    led("5");
    printf("slept\n");
    return 0;
}

int do_sock() {
    const char *path = "/tmp/powerbankserver.socket";
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, path);
    unlink(path);
    int server = socket(AF_UNIX, SOCK_DGRAM, 0);
    if (bind(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        return report_errno();
    }
    int client = socket(AF_UNIX, SOCK_DGRAM, 0);
    const char msg[] = "type=SendStatFile\r\nmsg=dcchange\r\n";
    if (sendto(client, msg, strlen(msg), 0, reinterpret_cast<sockaddr *>(&addr), sizeof addr) < 0) {
        return report_errno();
    }
    char buf[512] = {};
    ssize_t n = recv(server, buf, sizeof buf - 1, 0);
    printf("received %zd\n", n);
    close(client);
    close(server);
    return 0;
}

int do_i2c_many(const char *count_text) {
    int count = atoi(count_text);
    unsigned char bytes[64] = {};
    struct i2c_msg msgs[64];
    for (int i = 0; i < count && i < 64; ++i) {
        msgs[i] = {0x43, I2C_M_RD, 1, &bytes[i]};
    }
    struct i2c_rdwr_ioctl_data data = {msgs, static_cast<__u32>(count)};
    int fd = open("/dev/i2c-0", O_RDWR | O_CLOEXEC);
    int r = ioctl(fd, I2C_RDWR, &data);
    r < 0 ? report_errno() : printf("ret %d\n", r);
    close(fd);
    return 0;
}

int do_i2c_plain(const char *addr_text, const char *reg_text, const char *len_text) {
    int fd = open("/dev/i2c-0", O_RDWR | O_CLOEXEC);
    if (ioctl(fd, I2C_SLAVE, strtoul(addr_text, nullptr, 16)) != 0) {
        return report_errno();
    }
    unsigned char reg = static_cast<unsigned char>(strtoul(reg_text, nullptr, 16));
    unsigned char buf[16] = {};
    if (write(fd, &reg, 1) != 1 || read(fd, buf, static_cast<size_t>(atoi(len_text))) < 0) {
        return report_errno();
    }
    printf("bytes");
    for (int i = 0; i < atoi(len_text); ++i) {
        printf(" %02x", buf[i]);
    }
    printf("\n");
    close(fd);
    return 0;
}

int do_reread(const char *path) {
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return report_errno();
    }
    char a[8] = {};
    char b[8] = {};
    char c[8] = {};
    char d[8] = {};
    ssize_t na = read(fd, a, 2);
    ssize_t nb = read(fd, b, sizeof b - 1);
    lseek(fd, 0, SEEK_SET);
    ssize_t nc = read(fd, c, sizeof c - 1);
    ssize_t nd = pread(fd, d, sizeof d - 1, 1);
    printf("[%s] %zd [%s] %zd [%s] %zd [%s] %zd\n", a, na, b, nb, c, nc, d, nd);
    close(fd);
    return 0;
}

int do_sock_connected() {
    struct sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    strcpy(addr.sun_path, "/tmp/powerbankserver.socket");
    unlink(addr.sun_path);
    int server = socket(AF_UNIX, SOCK_DGRAM, 0);
    if (bind(server, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        return report_errno();
    }
    int client = socket(AF_UNIX, SOCK_DGRAM, 0);
    if (connect(client, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        return report_errno();
    }
    ssize_t sent = send(client, "one", 3, 0) + write(client, "two!", 4);
    char buf[16] = {};
    ssize_t got = recv(server, buf, sizeof buf, 0) + recv(server, buf, sizeof buf, 0);
    printf("sent %zd received %zd\n", sent, got);
    close(client);
    close(server);
    return 0;
}

int g_rounds = 0;

void *led_writer(void *arg) {
    const char *path = static_cast<const char *>(arg);
    for (int i = 0; i < g_rounds; ++i) {
        int fd = open(path, O_WRONLY | O_CLOEXEC);
        if (fd >= 0) {
            ssize_t n = write(fd, "255", 3);
            (void)n;
            close(fd);
        }
    }
    return nullptr;
}

void *dc_reader(void *) {
    for (int i = 0; i < g_rounds; ++i) {
        if (FILE *f = fopen("/sys/class/gpio/gpio25/value", "r")) {
            int v = 0;
            if (fscanf(f, "%d", &v) != 1) {
                printf("bad read\n");
            }
            fclose(f);
        }
    }
    return nullptr;
}

int do_threads(const char *rounds) {
    g_rounds = atoi(rounds);
    pthread_t t[3];
    pthread_create(&t[0], nullptr, led_writer,
                   const_cast<char *>("/sys/class/leds/usbc1/LineLedControl"));
    pthread_create(&t[1], nullptr, led_writer,
                   const_cast<char *>("/sys/class/leds/usbc2/LineLedControl"));
    pthread_create(&t[2], nullptr, dc_reader, nullptr);
    for (pthread_t &th : t) {
        pthread_join(th, nullptr);
    }
    printf("done\n");
    return 0;
}

}  // namespace

int main(int argc, char **argv) {
    std::string cmd = argc > 1 ? argv[1] : "";
    if (cmd == "write" && argc == 4) {
        return do_write(argv[2], argv[3]);
    }
    if (cmd == "read" && argc == 3) {
        return do_read(argv[2]);
    }
    if (cmd == "mcu-read" && argc == 5) {
        return do_mcu_read(argv[2], argv[3], argv[4]);
    }
    if (cmd == "i2c" && argc == 5) {
        return do_i2c(argv[2], argv[3], argv[4]);
    }
    if (cmd == "access" && argc == 3) {
        if (access(argv[2], F_OK) != 0) {
            return report_errno();
        }
        printf("exists\n");
        return 0;
    }
    if (cmd == "sleeps") {
        return do_sleeps();
    }
    if (cmd == "sock") {
        return do_sock();
    }
    if (cmd == "threads" && argc == 3) {
        return do_threads(argv[2]);
    }
    if (cmd == "i2c-many" && argc == 3) {
        return do_i2c_many(argv[2]);
    }
    if (cmd == "i2c-plain" && argc == 5) {
        return do_i2c_plain(argv[2], argv[3], argv[4]);
    }
    if (cmd == "reread" && argc == 3) {
        return do_reread(argv[2]);
    }
    if (cmd == "sock-connected") {
        return do_sock_connected();
    }
    fprintf(stderr, "probe: bad arguments\n");
    return 2;
}
