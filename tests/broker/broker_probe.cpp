// broker_probe: the sending side of the broker's socket, for tests that run it
// on a simulated board (which maps the socket's fixed path into the board).
//
//   broker_probe capture VERB ARGS...   bind the broker's path, run VERB, then
//                                       print every datagram that arrived
//   broker_probe VERB ARGS...           run VERB with nobody listening
//   broker_probe raw TEXT [PAD]         send TEXT as it is (the escapes \r, \n
//                                       and a doubled backslash decoded), padded
//                                       with 'x' to PAD bytes
//
// VERBs: "file NAME..." (one SendStatFile message per NAME), "file-long N" (a
// name of N 'x'), "change KEY VALUE". Each call prints "rc=N"; each datagram
// "dgram LEN BYTES" with CR and LF shown as \r and \n.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "broker/messages.h"

namespace {

sockaddr_un broker_addr() {
    sockaddr_un addr;
    memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, kBrokerSocketPath, sizeof addr.sun_path - 1);
    return addr;
}

std::string unescape(const char *s) {
    std::string out;
    for (; *s != '\0'; ++s) {
        if (*s == '\\' && s[1] != '\0') {
            ++s;
            out += *s == 'r' ? '\r' : *s == 'n' ? '\n' : *s;
        } else {
            out += *s;
        }
    }
    return out;
}

void print_datagram(const char *buf, ssize_t len) {
    std::string shown;
    for (ssize_t i = 0; i < len; ++i) {
        char c = buf[i];
        shown += c == '\r'   ? std::string("\\r")
                 : c == '\n' ? std::string("\\n")
                             : std::string(1, c);
    }
    printf("dgram %zd %s\n", len, shown.c_str());
}

int run_verb(int argc, char **argv) {
    if (argc < 1) {
        return 2;
    }
    const std::string verb = argv[0];
    if (verb == "file") {
        for (int i = 1; i < argc; ++i) {
            printf("rc=%d\n", powerbank_inter_comm_sendstatfile_msg_send(argv[i]));
        }
    } else if (verb == "file-long" && argc == 2) {
        std::string name(static_cast<size_t>(atoi(argv[1])), 'x');
        printf("rc=%d\n", powerbank_inter_comm_sendstatfile_msg_send(name.c_str()));
    } else if (verb == "change" && argc == 3) {
        printf("rc=%d\n", powerbank_inter_comm_sendstatchange_msg_send(argv[1], argv[2]));
    } else if (verb == "raw" && (argc == 2 || argc == 3)) {
        std::string text = unescape(argv[1]);
        if (argc == 3) {
            text.resize(static_cast<size_t>(atoi(argv[2])), 'x');
        }
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr = broker_addr();
        // Never waits: a broker that stopped reading fails the send, not the test run.
        ssize_t n = sendto(fd, text.data(), text.size(), MSG_DONTWAIT,
                           reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        close(fd);
        printf("rc=%d\n", n == static_cast<ssize_t>(text.size()) ? 0 : -errno);
    } else {
        return 2;
    }
    return 0;
}

int capture(int argc, char **argv) {
    unlink(kBrokerSocketPath);
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr = broker_addr();
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        perror("broker_probe: bind");
        return 1;
    }
    int rc = run_verb(argc, argv);
    // Datagrams on a local socket are queued by the time sendto returns.
    char buf[1024];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) >= 0) {
        print_datagram(buf, n);
    }
    close(fd);
    unlink(kBrokerSocketPath);
    return rc;
}

}  // namespace

int main(int argc, char **argv) {
    setvbuf(stdout, nullptr, _IOLBF, 0);
    if (argc >= 2 && strcmp(argv[1], "capture") == 0) {
        return capture(argc - 2, argv + 2);
    }
    if (argc >= 2) {
        // Nobody listens: a stale file from an earlier run must not change that.
        if (strcmp(argv[1], "raw") != 0) {
            unlink(kBrokerSocketPath);
        }
        int rc = run_verb(argc - 1, argv + 1);
        if (rc != 2) {
            return rc;
        }
    }
    fprintf(stderr,
            "usage: broker_probe [capture] file NAME... | file-long N | change KEY VALUE"
            " | raw TEXT [PAD]\n");
    return 2;
}
