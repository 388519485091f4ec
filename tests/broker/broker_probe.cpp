// broker_probe: the sending side of the broker's socket, for tests that run it
// on a simulated board (which maps the socket's fixed path into the board).
//
//   broker_probe capture VERB...   bind the broker's path, run VERB, then print
//                                  each datagram that arrived: "dgram LEN TEXT"
//                                  with CR and LF shown as \r and \n
//   broker_probe VERB...           run VERB with nobody listening
//
// VERBs: "file NAME..." (one SendStatFile message per NAME), "file-long N" (a
// name of N 'x'), "change KEY VALUE", "raw TEXT [PAD]" (TEXT as one datagram,
// padded with 'x' to PAD bytes). Each send prints "rc=N".
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
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    strncpy(addr.sun_path, kBrokerSocketPath, sizeof addr.sun_path - 1);
    return addr;
}

int run_verb(int argc, char **argv) {
    const std::string verb = argc > 0 ? argv[0] : "";
    if (verb == "file") {
        for (int i = 1; i < argc; ++i) {
            printf("rc=%d\n", powerbank_inter_comm_sendstatfile_msg_send(argv[i]));
        }
    } else if (verb == "file-long" && argc == 2) {
        std::string name(strtoul(argv[1], nullptr, 10), 'x');
        printf("rc=%d\n", powerbank_inter_comm_sendstatfile_msg_send(name.c_str()));
    } else if (verb == "change" && argc == 3) {
        printf("rc=%d\n", powerbank_inter_comm_sendstatchange_msg_send(argv[1], argv[2]));
    } else if (verb == "raw" && (argc == 2 || argc == 3)) {
        std::string text = argv[1];
        text.resize(argc == 3 ? strtoul(argv[2], nullptr, 10) : text.size(), 'x');
        int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
        sockaddr_un addr = broker_addr();
        // Never waits: a broker that stopped reading fails the send, not the run.
        ssize_t n = sendto(fd, text.data(), text.size(), MSG_DONTWAIT,
                           reinterpret_cast<sockaddr *>(&addr), sizeof addr);
        printf("rc=%d\n", n == static_cast<ssize_t>(text.size()) ? 0 : -errno);
        close(fd);
    } else {
        fprintf(stderr,
                "usage: broker_probe [capture] file NAME... | file-long N |"
                " change KEY VALUE | raw TEXT [PAD]\n");
        return 2;
    }
    return 0;
}

int capture(int argc, char **argv) {
    unlink(kBrokerSocketPath);
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr = broker_addr();
    if (bind(fd, reinterpret_cast<sockaddr *>(&addr), sizeof addr) != 0) {
        perror("broker_probe: bind");
        return 1;
    }
    int rc = run_verb(argc, argv);
    // Datagrams on a local socket are queued by the time sendto returns.
    char buf[1024];
    ssize_t n;
    while ((n = recv(fd, buf, sizeof buf, MSG_DONTWAIT)) >= 0) {
        std::string shown;
        for (char c : std::string(buf, n)) {
            shown += c == '\r' ? "\\r" : c == '\n' ? "\\n" : std::string(1, c);
        }
        printf("dgram %zd %s\n", n, shown.c_str());
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
    if (argc >= 2 && strcmp(argv[1], "raw") != 0) {
        // Nobody listens: a stale file from an earlier run must not change that.
        unlink(kBrokerSocketPath);
    }
    return run_verb(argc - 1, argv + 1);
}
