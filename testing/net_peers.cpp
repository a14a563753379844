#include "testing/net_peers.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>

extern char **environ;

namespace zolm::https::testing {
namespace {

[[noreturn]] void Fail(const std::string &text) { throw std::runtime_error(text); }

// Starts a program found on PATH with output to `output` (or /dev/null).
pid_t Spawn(const std::vector<std::string> &args, const std::string &output = "/dev/null") {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    std::vector<char *> argv;
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    pid_t pid = -1;
    int result = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (result != 0) Fail("cannot start " + args[0]);
    return pid;
}

void Run(const std::vector<std::string> &args) {
    pid_t pid = Spawn(args);
    int status = 0;
    waitpid(pid, &status, 0);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::string line;
        for (const std::string &arg : args) line += arg + " ";
        Fail("failed: " + line);
    }
}

sockaddr_in Loopback(uint16_t port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
}

bool Connects(uint16_t port) {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(port);
    bool connected = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    close(fd);
    return connected;
}

void MakeCa(const TempDir &dir, const std::string &name, const std::string &subject) {
    Run({"openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         dir.File(name + ".key"), "-out", dir.File(name + ".pem"), "-subj", subject, "-days", "2"});
}

// The body of a request head whose Content-Length is given, else none.
size_t ContentLength(const std::string &head) {
    std::string lower(head);
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    size_t at = lower.find("\r\ncontent-length:");
    if (at == std::string::npos) return 0;
    return std::strtoul(lower.c_str() + at + 17, nullptr, 10);
}

}  // namespace

TempDir::TempDir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "zolm-https-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) Fail("mkdtemp failed");
    path_ = pattern;
}

TempDir::~TempDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

uint16_t FreePort() {
    int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr *>(&address), &size) != 0)
        Fail("no free port");
    close(fd);
    return ntohs(address.sin_port);
}

TestPki::TestPki() {
    MakeCa(dir_, "ca", "/CN=Zolm Test CA");
    MakeCa(dir_, "other-ca", "/CN=Zolm Unrelated CA");
    Run({"openssl", "req", "-new", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1", "-nodes", "-keyout",
         KeyFile(), "-out", dir_.File("server.csr"), "-subj", "/CN=localhost"});
    std::ofstream(dir_.File("server.ext"))
        << "subjectAltName=DNS:localhost,IP:127.0.0.1\nbasicConstraints=CA:FALSE\nextendedKeyUsage=serverAuth\n";
    Run({"openssl", "x509", "-req", "-in", dir_.File("server.csr"), "-CA", CaFile(), "-CAkey", dir_.File("ca.key"),
         "-set_serial", "2", "-days", "2", "-extfile", dir_.File("server.ext"), "-out", CertFile()});
}

std::string Response(int status, const std::string &headers, const std::string &body) {
    return "HTTP/1.1 " + std::to_string(status) + " Whatever\r\n" + headers +
           "Content-Length: " + std::to_string(body.size()) + "\r\nConnection: close\r\n\r\n" + body;
}

TestServer::TestServer(const TestPki *pki, Handler handler) : handler_(std::move(handler)) {
    signal(SIGPIPE, SIG_IGN);  // a client may leave before the whole answer is written
    if (pki != nullptr) {
        tls_ = SSL_CTX_new(TLS_server_method());
        if (SSL_CTX_use_certificate_file(tls_, pki->CertFile().c_str(), SSL_FILETYPE_PEM) != 1 ||
            SSL_CTX_use_PrivateKey_file(tls_, pki->KeyFile().c_str(), SSL_FILETYPE_PEM) != 1)
            Fail("cannot load the server certificate");
    }
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address = Loopback(0);
    socklen_t size = sizeof address;
    if (bind(listener_, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 || listen(listener_, 16) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr *>(&address), &size) != 0 || pipe2(wake_, O_CLOEXEC) != 0)
        Fail("cannot start the test server");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

TestServer::~TestServer() {
    (void)!write(wake_[1], "x", 1);
    thread_.join();
    {
        std::lock_guard lock(mutex_);
        for (int fd : open_) shutdown(fd, SHUT_RDWR);
    }
    for (std::thread &worker : workers_) worker.join();
    close(listener_);
    close(wake_[0]);
    close(wake_[1]);
    SSL_CTX_free(tls_);
}

std::vector<ReceivedRequest> TestServer::Requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

void TestServer::Serve() {
    for (;;) {
        pollfd fds[2] = {{listener_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) < 0) continue;
        if (fds[1].revents != 0) return;
        int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard lock(mutex_);
        open_.push_back(fd);
        workers_.emplace_back([this, fd] { Handle(fd); });
    }
}

void TestServer::Handle(int fd) {
    timeval limit{30, 0};
    setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    SSL *ssl = nullptr;
    auto receive = [&](char *data, size_t size) -> long {
        return ssl ? SSL_read(ssl, data, static_cast<int>(size)) : recv(fd, data, size, 0);
    };
    auto sendAll = [&](const std::string &data) {
        for (size_t sent = 0; sent < data.size();) {
            long n = ssl ? SSL_write(ssl, data.data() + sent,
                                     static_cast<int>(std::min<size_t>(data.size() - sent, 1 << 20)))
                         : send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    };
    bool ok = true;
    if (tls_ != nullptr) {
        ssl = SSL_new(tls_);
        SSL_set_fd(ssl, fd);
        ok = SSL_accept(ssl) == 1;
    }
    ReceivedRequest request;
    std::string data;
    char chunk[16384];
    size_t headEnd = std::string::npos;
    while (ok && headEnd == std::string::npos) {
        long n = receive(chunk, sizeof chunk);
        if (n <= 0)
            ok = false;
        else
            data.append(chunk, static_cast<size_t>(n));
        headEnd = data.find("\r\n\r\n");
    }
    if (ok) {
        request.head = data.substr(0, headEnd + 4);
        request.body = data.substr(headEnd + 4);
        size_t length = ContentLength(request.head);
        while (request.body.size() < length) {
            long n = receive(chunk, sizeof chunk);
            if (n <= 0) break;
            request.body.append(chunk, static_cast<size_t>(n));
        }
        {
            std::lock_guard lock(mutex_);
            requests_.push_back(request);
        }
        std::string answer = handler_(request);
        if (answer.empty()) {
            pollfd wake{wake_[0], POLLIN, 0};
            poll(&wake, 1, -1);
        } else {
            sendAll(answer);
        }
    }
    if (ssl != nullptr) SSL_free(ssl);
    std::lock_guard lock(mutex_);
    open_.erase(std::find(open_.begin(), open_.end(), fd));
    close(fd);
}

Tinyproxy::Tinyproxy(const std::string &user, const std::string &password) {
    port_ = FreePort();
    std::ofstream(dir_.File("tinyproxy.conf")) << "Port " << port_ << "\nListen 127.0.0.1\nTimeout 30\n"
                                               << "PidFile \"" << dir_.File("tinyproxy.pid") << "\"\n"
                                               << "LogFile \"" << dir_.File("tinyproxy.log") << "\"\n"
                                               << "LogLevel Info\nMaxClients 20\nAllow 127.0.0.1\n"
                                               << "BasicAuth " << user << " " << password << "\n";
    pid_ = Spawn({"tinyproxy", "-d", "-c", dir_.File("tinyproxy.conf")}, dir_.File("output.txt"));
    for (int i = 0; i < 400; ++i) {
        if (Connects(port_)) return;
        if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            pid_ = -1;
            Fail("tinyproxy ended at start");
        }
        usleep(25000);
    }
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
    Fail("tinyproxy does not listen on port " + std::to_string(port_));
}

Tinyproxy::~Tinyproxy() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    waitpid(pid_, nullptr, 0);
}

}  // namespace zolm::https::testing
