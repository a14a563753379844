// The virtual card's connection to vpcd and its frame loop.
#include "zolm_pcsc/testing/virtual_card.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <memory>

namespace zolm::pcsc::testing {
namespace {

bool ReadAll(int fd, uint8_t *data, size_t length) {
    while (length != 0) {
        ssize_t got = ::recv(fd, data, length, 0);
        // vpcd writes a frame's length and its bytes separately: without an immediate
        // acknowledgement the second write waits for the delayed one (Nagle), some 40 ms a frame.
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_QUICKACK, &one, sizeof one);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        data += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

bool SendFrame(int fd, const Bytes &payload) {
    Bytes frame{static_cast<uint8_t>(payload.size() >> 8), static_cast<uint8_t>(payload.size())};
    frame.insert(frame.end(), payload.begin(), payload.end());
    size_t done = 0;
    while (done < frame.size()) {
        ssize_t sent = ::send(fd, frame.data() + done, frame.size() - done, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        done += static_cast<size_t>(sent);
    }
    return true;
}

constexpr uint8_t kRequestAtr = 0x04;

}  // namespace

VirtualCard::VirtualCard(Bytes atr, Handler handler) : atr_(std::move(atr)), handler_(std::move(handler)) {}

VirtualCard::~VirtualCard() { Remove(); }

bool VirtualCard::Insert(uint16_t port, std::chrono::milliseconds timeout) {
    Remove();
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    for (;;) {
        int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        if (::connect(fd, reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
            int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
            socket_ = fd;
            thread_ = std::thread([this] { Serve(); });
            return true;
        }
        ::close(fd);
        if (std::chrono::steady_clock::now() >= deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

void VirtualCard::Remove() {
    if (socket_ < 0) return;
    ::shutdown(socket_, SHUT_RDWR);
    if (thread_.joinable()) thread_.join();
    ::close(socket_);
    socket_ = -1;
}

std::vector<std::string> VirtualCard::Received() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return received_;
}

void VirtualCard::Serve() {
    for (;;) {
        uint8_t header[2];
        if (!ReadAll(socket_, header, 2)) return;
        Bytes payload(static_cast<size_t>(header[0]) << 8 | header[1]);
        if (!ReadAll(socket_, payload.data(), payload.size())) return;
        if (payload.size() == 1) {
            // Power on, power off and reset need no answer; the ATR request does.
            if (payload[0] == kRequestAtr && !SendFrame(socket_, atr_)) return;
            continue;
        }
        {
            std::lock_guard<std::mutex> lock(mutex_);
            received_.push_back(HexText(payload.data(), payload.size()));
        }
        if (!SendFrame(socket_, handler_(payload))) return;
    }
}

VirtualCard::Handler VirtualCard::Script(std::vector<std::string> answers) {
    auto remaining = std::make_shared<std::vector<std::string>>(std::move(answers));
    auto next = std::make_shared<size_t>(0);
    return [remaining, next](const Bytes &) {
        if (*next == remaining->size()) return HexBytes("6F00");
        return HexBytes((*remaining)[(*next)++]);
    };
}

}  // namespace zolm::pcsc::testing
