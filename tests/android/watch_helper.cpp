// A harmless stand-in process for the watcher tests, copied under whatever name a test needs. It lives at
// most a minute so that nothing lingers when a test dies.
//   watch_helper                       sleeps
//   watch_helper listen PORT           listens on 127.0.0.1:PORT (0: any), prints the port or "busy"
//   watch_helper connect PORT          connects to 127.0.0.1:PORT, prints "ok" or "fail"
//   watch_helper spawn PATH...         starts each PATH, prints the ids, and never collects them (zombies)

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
