// Real peers for the network tests (transport, probe, XML-RPC), all on 127.0.0.1 and all stopped by
// their destructors: a test certification authority with a server certificate, a small HTTP(S) server
// whose answers a test chooses, and tinyproxy demanding Basic credentials.
#pragma once

#include <openssl/ssl.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace zolm::https::testing {

// A private folder removed with everything in it.
class TempDir {
public:
    TempDir();
    ~TempDir();
    const std::string &Path() const { return path_; }
    std::string File(const std::string &name) const { return path_ + "/" + name; }

private:
    std::string path_;
};

// A port on 127.0.0.1 that was free a moment ago.
uint16_t FreePort();

// A test CA and a server certificate for "localhost" and 127.0.0.1 signed by it, plus a second,
// unrelated CA that trusts nothing here. Made with the openssl tool.
class TestPki {
public:
    TestPki();
    std::string CaFile() const { return dir_.File("ca.pem"); }
    std::string OtherCaFile() const { return dir_.File("other-ca.pem"); }
    std::string CertFile() const { return dir_.File("server.pem"); }
    std::string KeyFile() const { return dir_.File("server.key"); }

private:
    TempDir dir_;
};

struct ReceivedRequest {
    std::string head;  // request line and headers, up to and including the empty line
    std::string body;
};

// A complete HTTP/1.1 response with Content-Length and "Connection: close".
std::string Response(int status, const std::string &headers, const std::string &body);

class TestServer {
public:
    // The raw bytes to send back for a request; empty: never answer (hold the connection until the
    // server stops).
    using Handler = std::function<std::string(const ReceivedRequest &)>;

    // Plain HTTP when pki is NULL, HTTPS with its server certificate otherwise.
    TestServer(const TestPki *pki, Handler handler);
    ~TestServer();
    uint16_t Port() const { return port_; }
    std::vector<ReceivedRequest> Requests();

private:
    void Serve();
    void Handle(int fd);

    Handler handler_;
    SSL_CTX *tls_ = nullptr;
    int listener_ = -1;
    int wake_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::mutex mutex_;
    std::vector<ReceivedRequest> requests_;
    std::vector<int> open_;
    std::vector<std::thread> workers_;
    std::thread thread_;
};

// Sets or removes environment variables for one scope and restores them afterwards.
class ScopedEnv {
public:
    ScopedEnv(const char *name, const char *value) : name_(name) {
        if (const char *old = std::getenv(name)) old_ = old;
        if (value != nullptr)
            setenv(name, value, 1);
        else
            unsetenv(name);
    }
    ~ScopedEnv() {
        if (old_)
            setenv(name_.c_str(), old_->c_str(), 1);
        else
            unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv &) = delete;
    ScopedEnv &operator=(const ScopedEnv &) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// The environment of one network test: Set() changes a variable until the object goes away.
// Constructed with a test CA, it trusts only that CA and starts with no proxy in the environment.
class TestEnvironment {
public:
    explicit TestEnvironment(const TestPki &pki) {
        Set("SSL_CERT_FILE", pki.CaFile().c_str());
        for (const char *name :
             {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy", "ALL_PROXY", "no_proxy", "NO_PROXY"})
            Set(name, nullptr);
    }
    // value null removes the variable.
    void Set(const char *name, const char *value) { changes_.push_back(std::make_unique<ScopedEnv>(name, value)); }

private:
    std::vector<std::unique_ptr<ScopedEnv>> changes_;
};

// tinyproxy on a free port with "BasicAuth user password", its configuration, pid and log files in a
// private folder.
class Tinyproxy {
public:
    Tinyproxy(const std::string &user, const std::string &password);
    ~Tinyproxy();
    uint16_t Port() const { return port_; }
    std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }

private:
    TempDir dir_;
    uint16_t port_ = 0;
    pid_t pid_ = -1;
};

}  // namespace zolm::https::testing
