// Test helpers: capture of file descriptor 1, temporary directories.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <sys/mman.h>
#include <unistd.h>

// Redirects fd 1 (and so stdout) to a temporary file until finish().
class StdoutCapture {
public:
    StdoutCapture() {
        fflush(stdout);
        char tmpl[] = "/tmp/telhid-capture-XXXXXX";
        fd_ = mkstemp(tmpl);
        path_ = tmpl;
        saved_ = dup(1);
        dup2(fd_, 1);
    }
    ~StdoutCapture() { finish(); }
    // Restores fd 1 and returns everything written meanwhile.
    std::string finish() {
        if (saved_ < 0) return text_;
        fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
        saved_ = -1;
        std::string s;
        char buf[65536];
        lseek(fd_, 0, SEEK_SET);
        for (ssize_t n; (n = read(fd_, buf, sizeof buf)) > 0;) s.append(buf, size_t(n));
        close(fd_);
        unlink(path_.c_str());
        text_ = s;
        return text_;
    }

private:
    int fd_ = -1, saved_ = -1;
    std::string path_, text_;
};

struct TempDir {
    std::string path;
    TempDir() {
        char tmpl[] = "/tmp/telhid-test-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() {
        std::string cmd = "rm -rf '" + path + "'";
        if (system(cmd.c_str())) {
        }
    }
};
