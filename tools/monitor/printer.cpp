#include "printer.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string>

#include "event_format.h"

namespace {

std::string clock_text()
{
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm t{};
    localtime_r(&ts.tv_sec, &t);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03ld  ", t.tm_hour, t.tm_min, t.tm_sec, ts.tv_nsec / 1000000);
    return buf;
}

}  // namespace

void CPrinter::event(std::string_view text)
{
    if (pretty_) {
        write_all(clock_text() + pretty_event(text) + "\n");
        return;
    }
    if (text.empty() || text.back() != '\n')
        write_all(std::string(text) + "\n");
    else
        write_all(text);
}

void CPrinter::line(std::string_view text)
{
    write_all(text);
}

void CPrinter::write_all(std::string_view text)
{
    std::lock_guard<std::mutex> lock(mutex_);
    while (!text.empty() && !broken_.load()) {
        ssize_t n = ::write(fd_, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            broken_ = true;
            break;
        }
        text.remove_prefix(static_cast<size_t>(n));
    }
}
