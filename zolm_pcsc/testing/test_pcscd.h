// A private pcscd for tests. It listens on a socket of this test process (handed over the way
// systemd's socket activation does, and named to the PC/SC client library by PCSCLITE_CSOCK_NAME),
// loads only the readers the test asks for, and runs where possible in a mount namespace of its own
// with a private /run/pcscd, so that a system daemon's socket and pid file stay untouched.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>

namespace zolm::pcsc::testing {

class TestPcscd {
public:
    // The reader of vpcd's first slot; the driver listens for its card on VpcdPort().
    static constexpr const char *kVpcdReader = "Virtual PCD 00 00";

    // Points this process's PC/SC client at the private socket. Must run before the process's first
    // PC/SC call, because pcsc-lite reads the variable once; every other member calls it.
    static const std::string &SocketPath();

    TestPcscd() = default;
    ~TestPcscd() { Stop(); }
    TestPcscd(const TestPcscd &) = delete;
    TestPcscd &operator=(const TestPcscd &) = delete;

    // Starts the daemon, with vpcd's reader or with no reader at all. Raises std::runtime_error
    // when the daemon cannot be started.
    void Start(bool withVpcdReader);
    // Stops the daemon; afterwards the socket refuses connections (no service).
    void Stop();

    uint16_t VpcdPort() const { return port_; }

    // Waits until reader reports a card (present) or none (!present); false on timeout.
    static bool WaitForCard(const char *reader, bool present,
                            std::chrono::milliseconds timeout = std::chrono::seconds(10));

private:
    pid_t pid_ = -1;
    uint16_t port_ = 0;
};

}  // namespace zolm::pcsc::testing
