#include "stdout_aside.h"

#include <fcntl.h>
#include <unistd.h>

namespace {

int g_out_fd = -1;

void take_standard_output(int, char**, char**)
{
    g_out_fd = fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
    int sink = open("/dev/null", O_WRONLY | O_CLOEXEC);
    if (g_out_fd >= 0 && sink >= 0)
        dup2(sink, STDOUT_FILENO);
    if (sink >= 0)
        close(sink);
}

__attribute__((section(".preinit_array"), used)) void (*const m_take_stdout)(int, char**, char**) =
    take_standard_output;

}  // namespace

int stdout_aside_fd()
{
    return g_out_fd;
}
