// zolm-update-server: a small blocking update server for demonstrations and tests. One connection at
// a time on a loopback port: GET of the probe path answers the chosen body, POST of the XML-RPC path
// answers "Versions.GetPatchInfo" and "Versions.GetPatch" from a folder of patches.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <exception>
#include <fstream>
#include <memory>
#include <string>

#include "version_store.h"

namespace {

const char kHelp[] =
    "Usage: zolm-update-server --versions FOLDER [OPTION...]\n"
    "\n"
    "Serves the connection probe and the update server's XML-RPC endpoint on 127.0.0.1, one request\n"
    "at a time, until it is stopped (SIGTERM or SIGINT). Prints one line per request.\n"
    "\n"
    "FOLDER holds \"patch\" elements written by zolm-patchmaker, all making the same newest version:\n"
    "  <from>.xml   the patch from version <from> to the newest one;\n"
    "  full.xml     the patch against an empty installation (zolm-patchmaker --full), offered as a\n"
    "               \"full\" answer to versions the folder has no patch for.\n"
    "\"Versions.GetPatchInfo\" answers size 0 for the newest version, the patch's size in bytes for a\n"
    "version with a patch, else the full copy's size; \"Versions.GetPatch\" answers the patch for the\n"
    "version asked (\"00000000\": the full copy). Inner answers echo the request's id.\n"
    "\n"
    "Options:\n"
    "  --versions FOLDER   the folder of patches (required)\n"
    "  --port N            the port (default 0: a free one)\n"
    "  --port-file FILE    write the port there once listening\n"
    "  --cert FILE         serve HTTPS with this PEM certificate (chain) ...\n"
    "  --key FILE          ... and this PEM private key\n"
    "  --probe-path PATH   the probe URL's path (default /probe)\n"
    "  --probe-body TEXT   the probe's body (default OK)\n"
    "  --rpc-path PATH     the XML-RPC path (default /RPC2)\n"
    "  --product NAME      answer only this product (others get an application error)\n"
    "  --help              this text\n"
    "Exit status: 0 stopped, 1 failure, 2 usage error.\n";

constexpr size_t kMaxHead = 64 * 1024;
constexpr size_t kMaxBody = 16 * 1024 * 1024;

volatile sig_atomic_t stopping = 0;
void Stop(int) { stopping = 1; }

struct Options {
    std::string versions, portFile, cert, key, product;
    std::string probePath = "/probe", probeBody = "OK", rpcPath = "/RPC2";
    int port = 0;
};

std::string HttpDate() {
    char text[64];
    std::time_t now = std::time(nullptr);
    std::tm gmt{};
    gmtime_r(&now, &gmt);
    std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &gmt);
    return text;
}

std::string Response(int status, const char *reason, const std::string &type, const std::string &body) {
    return "HTTP/1.1 " + std::to_string(status) + " " + reason + "\r\nDate: " + HttpDate() +
           "\r\nContent-Type: " + type + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

std::string Lower(std::string text) {
    for (char &c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

// One connection, plain or TLS: reads one request, answers it, closes.
class Connection {
public:
    Connection(int fd, SSL_CTX *tls) : fd_(fd) {
        timeval limit{30, 0};  // a silent client does not hold the server for ever
        setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        if (tls != nullptr) {
            ssl_ = SSL_new(tls);
            SSL_set_fd(ssl_, fd);
            ok_ = SSL_accept(ssl_) == 1;
        }
    }
    ~Connection() {
        if (ssl_ != nullptr) {
            SSL_shutdown(ssl_);
            SSL_free(ssl_);
        }
        close(fd_);
    }
    bool Ok() const { return ok_; }
    long Receive(char *data, size_t size) {
        return ssl_ ? SSL_read(ssl_, data, static_cast<int>(size)) : recv(fd_, data, size, 0);
    }
    void Send(const std::string &data) {
        for (size_t sent = 0; sent < data.size();) {
            size_t part = std::min<size_t>(data.size() - sent, 1 << 20);
            long n = ssl_ ? SSL_write(ssl_, data.data() + sent, static_cast<int>(part))
                          : send(fd_, data.data() + sent, part, MSG_NOSIGNAL);
            if (n <= 0) return;
            sent += static_cast<size_t>(n);
        }
    }

private:
    int fd_;
    SSL *ssl_ = nullptr;
    bool ok_ = true;
};

void Serve(Connection &connection, const Options &options, zolm::updateserver::VersionStore &store) {
    std::string data;
    char chunk[16384];
    size_t headEnd;
    while ((headEnd = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kMaxHead) return connection.Send(Response(431, "Too Large", "text/plain", "too large\n"));
        long n = connection.Receive(chunk, sizeof chunk);
        if (n <= 0) return;
        data.append(chunk, static_cast<size_t>(n));
    }
    std::string head = data.substr(0, headEnd + 2);
    std::string body = data.substr(headEnd + 4);
    std::string requestLine = head.substr(0, head.find("\r\n"));
    std::string method = requestLine.substr(0, requestLine.find(' '));
    size_t pathStart = requestLine.find(' ') == std::string::npos ? requestLine.size() : requestLine.find(' ') + 1;
    std::string path = requestLine.substr(pathStart, requestLine.find(' ', pathStart) - pathStart);

    size_t length = 0;
    std::string lowerHead = Lower(head);
    if (size_t at = lowerHead.find("\r\ncontent-length:"); at != std::string::npos) {
        try {
            length = std::stoul(head.substr(at + 17));
        } catch (const std::exception &) {
            return connection.Send(Response(400, "Bad Request", "text/plain", "bad Content-Length\n"));
        }
    }
    if (length > kMaxBody) return connection.Send(Response(413, "Too Large", "text/plain", "too large\n"));
    while (body.size() < length) {
        long n = connection.Receive(chunk, sizeof chunk);
        if (n <= 0) return;
        body.append(chunk, static_cast<size_t>(n));
    }
    body.resize(length);

    std::string line = method + " " + path;
    if (method == "GET" && path == options.probePath) {
        connection.Send(Response(200, "OK", "text/plain", options.probeBody));
    } else if (method == "POST" && path == options.rpcPath) {
        std::string answer = store.Answer(body);
        line += " " + store.LastCall();
        connection.Send(Response(200, "OK", "text/xml", answer));
    } else {
        line += " (not found)";
        connection.Send(Response(404, "Not Found", "text/plain", "not found\n"));
    }
    // One line per request, for whoever watches the server.
    std::printf("%s\n", line.c_str());
    std::fflush(stdout);
}

int Usage(const std::string &why) {
    std::fprintf(stderr, "zolm-update-server: %s\nTry 'zolm-update-server --help'.\n", why.c_str());
    return 2;
}

}  // namespace

int main(int argc, char **argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        }
        std::string *value = a == "--versions"     ? &options.versions
                             : a == "--port-file"  ? &options.portFile
                             : a == "--cert"       ? &options.cert
                             : a == "--key"        ? &options.key
                             : a == "--product"    ? &options.product
                             : a == "--probe-path" ? &options.probePath
                             : a == "--probe-body" ? &options.probeBody
                             : a == "--rpc-path"   ? &options.rpcPath
                                                   : nullptr;
        if (a == "--port") {
            if (i + 1 >= argc) return Usage("option --port needs a value");
            char *end = nullptr;
            long port = std::strtol(argv[++i], &end, 10);
            if (*end != '\0' || port < 0 || port > 65535) return Usage("invalid port: " + std::string(argv[i]));
            options.port = static_cast<int>(port);
        } else if (value != nullptr) {
            if (i + 1 >= argc) return Usage("option " + a + " needs a value");
            *value = argv[++i];
        } else {
            return Usage("unknown argument: " + a);
        }
    }
    if (options.versions.empty()) return Usage("--versions is required");
    if (options.cert.empty() != options.key.empty()) return Usage("--cert and --key go together");

    try {
        zolm::updateserver::VersionStore store(options.versions, options.product);

        std::unique_ptr<SSL_CTX, decltype(&SSL_CTX_free)> tls(nullptr, SSL_CTX_free);
        if (!options.cert.empty()) {
            tls.reset(SSL_CTX_new(TLS_server_method()));
            if (!tls || SSL_CTX_use_certificate_chain_file(tls.get(), options.cert.c_str()) != 1 ||
                SSL_CTX_use_PrivateKey_file(tls.get(), options.key.c_str(), SSL_FILETYPE_PEM) != 1 ||
                SSL_CTX_check_private_key(tls.get()) != 1)
                throw std::runtime_error("cannot load the certificate " + options.cert + " and key " + options.key);
        }

        int listener = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        int yes = 1;
        setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        address.sin_port = htons(static_cast<uint16_t>(options.port));
        socklen_t size = sizeof address;
        if (listener < 0 || bind(listener, reinterpret_cast<sockaddr *>(&address), sizeof address) != 0 ||
            listen(listener, 16) != 0 || getsockname(listener, reinterpret_cast<sockaddr *>(&address), &size) != 0)
            throw std::runtime_error(std::string("cannot listen on 127.0.0.1: ") + std::strerror(errno));
        int port = ntohs(address.sin_port);

        struct sigaction action {};
        action.sa_handler = Stop;  // no SA_RESTART: accept returns and the loop ends
        sigaction(SIGTERM, &action, nullptr);
        sigaction(SIGINT, &action, nullptr);
        signal(SIGPIPE, SIG_IGN);

        if (!options.portFile.empty()) {
            std::string temporary = options.portFile + ".tmp";
            std::ofstream(temporary) << port << "\n";
            std::rename(temporary.c_str(), options.portFile.c_str());
        }
        std::printf("zolm-update-server: %s://127.0.0.1:%d%s offers version %s\n", tls ? "https" : "http", port,
                    options.rpcPath.c_str(), store.Newest().c_str());
        std::fflush(stdout);

        while (!stopping) {
            int fd = accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            Connection connection(fd, tls.get());
            if (connection.Ok()) Serve(connection, options, store);
        }
        close(listener);
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "zolm-update-server: %s\n", e.what());
        return 1;
    }
}
