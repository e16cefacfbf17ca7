// vtelctl SOCKET [COMMAND...]: sends one command (the arguments) or the lines
// of standard input to a program's virtual-telephone control socket and
// prints the replies. Exit status 1 when a command failed.
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <iostream>
#include <string>

namespace {

bool send_line(int fd, const std::string& line, bool& failed)
{
    std::string out = line + "\n";
    if (write(fd, out.data(), out.size()) != static_cast<ssize_t>(out.size()))
        return false;
    std::string reply;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        reply.push_back(c);
    if (reply.empty())
        return false;
    std::puts(reply.c_str());
    if (reply.rfind("ok", 0) != 0)
        failed = true;
    return true;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SOCKET [COMMAND...]\n", argv[0]);
        return 2;
    }
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    if (std::strlen(argv[1]) >= sizeof a.sun_path) {
        std::fprintf(stderr, "%s: socket path too long\n", argv[0]);
        return 2;
    }
    std::strcpy(a.sun_path, argv[1]);
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) < 0) {
        std::fprintf(stderr, "%s: cannot connect to %s: %s\n", argv[0], argv[1], std::strerror(errno));
        return 2;
    }
    bool failed = false;
    if (argc > 2) {
        std::string line;
        for (int i = 2; i < argc; ++i)
            line += (i > 2 ? " " : "") + std::string(argv[i]);
        if (!send_line(fd, line, failed))
            return 2;
    } else {
        for (std::string line; std::getline(std::cin, line);)
            if (!send_line(fd, line, failed))
                return 2;
    }
    close(fd);
    return failed ? 1 : 0;
}
