// The monitor's end of the library's TCP event connection: a listener on
// 127.0.0.1, and a thread that prints each line the library writes.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#include "printer.h"

class CTcpChannel {
public:
    explicit CTcpChannel(CPrinter& out) : out_(out) {}
    ~CTcpChannel();
    CTcpChannel(const CTcpChannel&) = delete;
    CTcpChannel& operator=(const CTcpChannel&) = delete;

    // Listens on 127.0.0.1:port (0: any free port). Returns the port, or -1
    // with the reason in `error`. The library connects from its start
    // function, so this must come first.
    int listen(int port, std::string& error);
    // Takes the library's connection (it is already queued once the start
    // function has returned) and starts printing what arrives.
    bool accept_and_read(int timeout_ms, std::string& error);
    // After hid_server_stop: prints what is still on the way and ends the
    // reading thread.
    void finish();

private:
    void read_loop();

    CPrinter& out_;
    int listen_fd_ = -1;
    int conn_fd_ = -1;
    std::atomic<bool> finishing_{false};
    std::thread reader_;
};
