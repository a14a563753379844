// The tests' view of libhttps.so: its C calls wrapped so that every returned block is copied and given
// back with https_Release at once.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>

#include "testing/net_peers.h"
#include "zolm/https.h"

namespace zolm::https::testing {

struct Answer {
    int32_t result = -1;
    uint16_t status = 0;
    std::string headers;
    std::string body;
    std::string error;
    bool bodyTerminated = false;  // the body block was non-NULL with a NUL after its bytes
};

struct Call {
    std::string host = "127.0.0.1";
    int32_t port = 0;
    int32_t secure = 1;
    std::string method = "GET";
    std::string path = "/";
    std::string headers = {};
    std::optional<std::string> body = {};
    uint32_t timeoutMs = 10000;
};

inline std::string TakeText(char *text) {
    std::string copy = text != nullptr ? text : "";
    https_Release(text);
    return copy;
}

// The error text of https_Start ("" on success).
inline std::string Start(const char *proxy, const char *user = "", const char *password = "") {
    char *error = nullptr;
    int32_t result = https_Start(proxy, user, password, &error);
    std::string text = TakeText(error);
    return result == 0 ? text : (text.empty() ? "(failed without text)" : text);
}

inline std::string Stop() {
    char *error = nullptr;
    int32_t result = https_Stop(&error);
    std::string text = TakeText(error);
    return result == 0 ? text : "(failed) " + text;
}

inline Answer Request(const Call &call) {
    Answer answer;
    char *headers = nullptr;
    void *body = nullptr;
    uint32_t length = 0;
    char *error = nullptr;
    answer.result = https_Request(call.host.c_str(), call.port, call.secure, call.method.c_str(), call.path.c_str(),
                                  call.headers.c_str(), call.body ? call.body->data() : nullptr,
                                  call.body ? static_cast<uint32_t>(call.body->size()) : 0, call.timeoutMs,
                                  &answer.status, &headers, &body, &length, &error);
    answer.headers = TakeText(headers);
    if (body != nullptr) {
        answer.body.assign(static_cast<const char *>(body), length);
        answer.bodyTerminated = static_cast<const char *>(body)[length] == '\0';
    }
    https_Release(body);
    answer.error = TakeText(error);
    return answer;
}

}  // namespace zolm::https::testing
