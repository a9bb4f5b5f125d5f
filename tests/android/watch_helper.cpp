// A harmless stand-in process for the watcher tests, copied under whatever name a test needs. It lives at
// most a minute so that nothing lingers when a test dies.
//   watch_helper                       sleeps
//   watch_helper listen PORT           listens on 127.0.0.1:PORT (0: any), prints the port or "busy"
//   watch_helper connect PORT          connects to 127.0.0.1:PORT, prints "ok" or "fail"
//   watch_helper spawn PATH...         starts each PATH, prints the ids, and never collects them (zombies)
//   watch_helper adbserver PORT [stubborn]  listens like an adb server: answers "host:version" with version 41
//                                      and exits on "host:kill" (unless stubborn); prints the port

#include <arpa/inet.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace {

int listenOn(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof a;
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&a), length) != 0 || listen(fd, 4) != 0)
        return -1;
    getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
    return ntohs(a.sin_port);
}

bool connectTo(int port)
{
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return fd >= 0 && connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
}

bool readAll(int fd, char *data, size_t length)
{
    while (length > 0) {
        const ssize_t n = read(fd, data, length);
        if (n <= 0)
            return false;
        data += n;
        length -= size_t(n);
    }
    return true;
}

// One request per connection, as an adb server's smart socket takes them: four hex digits, then the service.
void serveAdb(int listenFd, bool stubborn)
{
    for (;;) {
        const int fd = accept(listenFd, nullptr, nullptr);
        if (fd < 0)
            continue;
        char hex[5] = {};
        char service[256] = {};
        const size_t length = readAll(fd, hex, 4) ? strtoul(hex, nullptr, 16) : 0;
        if (length > 0 && length < sizeof service && readAll(fd, service, length)) {
            if (!strcmp(service, "host:version")) {
                (void)!write(fd, "OKAY00040029", 12);
            } else if (!strcmp(service, "host:kill")) {
                (void)!write(fd, "OKAY", 4);
                if (!stubborn)
                    _exit(0);
            } else {
                (void)!write(fd, "FAIL0007unknown", 15);
            }
        }
        close(fd);
    }
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc >= 3 && !strcmp(argv[1], "listen")) {
        const int port = listenOn(atoi(argv[2]));
        if (port < 0) {
            puts("busy");
            return 3;
        }
        printf("%d\n", port);
    } else if (argc >= 3 && !strcmp(argv[1], "adbserver")) {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        const int on = 1;
        setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(atoi(argv[2]));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t length = sizeof a;
        if (bind(fd, reinterpret_cast<sockaddr *>(&a), length) != 0 || listen(fd, 8) != 0) {
            puts("busy");
            return 3;
        }
        getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
        printf("%d\n", ntohs(a.sin_port));
        fflush(stdout);
        alarm(60);
        serveAdb(fd, argc >= 4 && !strcmp(argv[3], "stubborn"));
    } else if (argc >= 3 && !strcmp(argv[1], "connect")) {
        if (!connectTo(atoi(argv[2]))) {
            puts("fail");
            return 4;
        }
        puts("ok");
    } else if (argc >= 3 && !strcmp(argv[1], "spawn")) {
        signal(SIGCHLD, SIG_DFL); // an inherited SIG_IGN would let the kernel collect the children for us
        for (int i = 2; i < argc; ++i) {
            const pid_t child = fork();
            if (child == 0) {
                execl(argv[i], argv[i], static_cast<char *>(nullptr));
                _exit(127);
            }
            printf("%d\n", static_cast<int>(child));
        }
    }
    fflush(stdout);
    sleep(60);
    return 0;
}
