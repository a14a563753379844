// A virtual smart card of our own for vsmartcard's vpcd reader driver. It connects to the port the
// driver listens on and answers the driver's frames from a thread of its own: each frame is a
// 2-byte big-endian length and that many bytes; a 1-byte frame is a control request (0 power off,
// 1 power on, 2 reset, 4 send the ATR), any longer one a command APDU answered with a response frame.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "zolm_pcsc/testing/hex.h"

namespace zolm::pcsc::testing {

class VirtualCard {
public:
    // Answers one command APDU; runs on the card's thread.
    using Handler = std::function<Bytes(const Bytes &command)>;

    VirtualCard(Bytes atr, Handler handler);
    ~VirtualCard();  // removes the card
    VirtualCard(const VirtualCard &) = delete;
    VirtualCard &operator=(const VirtualCard &) = delete;

    // Connects to vpcd on 127.0.0.1:port, retrying while the driver is not listening yet.
    // Returns false when no connection was made within the timeout.
    bool Insert(uint16_t port, std::chrono::milliseconds timeout = std::chrono::seconds(10));
    // Drops the connection: to the reader the card is gone.
    void Remove();

    // The command APDUs received so far, as hex ("00A40000").
    std::vector<std::string> Received() const;

    // A handler that gives the answers (hex) in order and "6F00" once they are used up.
    static Handler Script(std::vector<std::string> answers);

private:
    void Serve();

    const Bytes atr_;
    const Handler handler_;
    int socket_ = -1;
    std::thread thread_;
    mutable std::mutex mutex_;
    std::vector<std::string> received_;
};

}  // namespace zolm::pcsc::testing
