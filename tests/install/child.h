// A program run by a test: its standard input is a pipe the test writes,
// its standard output is read line by line, its standard error is kept.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace insttest {

using namespace std::chrono_literals;

class CChild {
public:
    // Runs argv[0] (a path) with the environment of the test plus `env`
    // ("NAME=value" entries, which take precedence).
    CChild(const std::vector<std::string>& argv, const std::vector<std::string>& env = {});
    ~CChild();
    CChild(const CChild&) = delete;
    CChild& operator=(const CChild&) = delete;

    bool started() const { return pid_ > 0; }
    void write_input(const std::string& text);
    void close_input();
    // The next line of standard output (without its line feed), or nullopt
    // after the timeout or at the end of the output.
    std::optional<std::string> read_line(std::chrono::milliseconds timeout);
    // The next line that contains `needle`, passing over others.
    std::optional<std::string> wait_line(const std::string& needle, std::chrono::milliseconds timeout);
    // Every line read so far.
    const std::vector<std::string>& lines() const { return lines_; }
    std::string stderr_text() const;
    void signal(int sig);
    // Exit status, 128 + signal number when killed by a signal, or -1 when
    // the program is still running after the timeout.
    int wait_exit(std::chrono::milliseconds timeout);

private:
    int pid_ = -1;
    int in_fd_ = -1;
    int out_fd_ = -1;
    int status_ = -1;
    std::string err_path_;
    std::string pending_;
    std::vector<std::string> lines_;
};

// Runs a shell command line to its end; returns its exit status and, in
// `output`, what it wrote on standard output and standard error.
int run_shell(const std::string& command, std::string& output);

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& text);

}  // namespace insttest
