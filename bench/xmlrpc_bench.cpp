// Benchmark of XmlRpcCall end to end on a large patch answer (about 100 MB of body: the base64 of an
// inner document that holds the base64 of a patch), against the local HTTPS server, compared with
// `xmllint --noout --huge` reading the same outer body from a file as the baseline of the same run.
// Each side runs in a fresh child process, alternately, for a number of rounds; prints the median
// wall time and the highest peak resident memory of both, the ratios, and the peak memory of the
// call against the body size.
//   xmlrpc_bench [--rounds N]   (default 5)
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "starter/base64.h"
#include "starter/dovetane_rpc.h"
#include "starter/https.h"
#include "testing/net_peers.h"

// Modes: none (the benchmark), --client URL SIZE, --raw URL, --measure REPORT PROGRAM ARGS...

extern char **environ;

namespace {

using namespace zolm::starter;
namespace peers = zolm::https::testing;

const char kMethod[] = "Versions.GetPatch";
const size_t kPatchBytes = 56 << 20;  // base64 twice: about 100 MB of body

struct Measured {
    double seconds = 0;
    double peakMb = 0;
    int status = -1;
};

// Runs args in a child and waits: wall time and the child's peak resident memory. The child is
// forked by a small helper process (this program with --measure), so its peak cannot include this
// process's memory, which a spawned child counts until it executes its program.
Measured RunChild(const std::string &self, const std::vector<std::string> &args, const std::vector<std::string> &env,
                  const std::string &report) {
    std::vector<std::string> full = {self, "--measure", report};
    full.insert(full.end(), args.begin(), args.end());
    std::vector<char *> argv, envp;
    for (const std::string &arg : full) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    for (const std::string &entry : env) envp.push_back(const_cast<char *>(entry.c_str()));
    envp.push_back(nullptr);
    Measured measured;
    pid_t pid = -1;
    if (posix_spawn(&pid, self.c_str(), nullptr, nullptr, argv.data(), envp.data()) != 0) return measured;
    int status = 0;
    waitpid(pid, &status, 0);
    std::ifstream in(report);
    long maxKb = 0;
    in >> measured.seconds >> maxKb >> measured.status;
    measured.peakMb = static_cast<double>(maxKb) / 1024.0;
    return measured;
}

// The helper: fork, exec, wait; "seconds peak-KB exit-status" into the report file.
int Measure(const std::string &report, char **args) {
    auto start = std::chrono::steady_clock::now();
    pid_t pid = fork();
    if (pid == 0) {
        execvp(args[0], args);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    wait4(pid, &status, 0, &usage);
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::ofstream(report) << seconds << " " << usage.ru_maxrss << " "
                          << (WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status)) << "\n";
    return 0;
}

// The client side: one call, the patch text checked for its size.
int Client(const std::string &url, size_t expected) {
    try {
        HttpsSession session("INTERNET_OPEN_TYPE_DIRECT", "", "");
        XmlDocument answer = XmlRpcCall(url, kMethod, "<product>{0}</product>", 600000, {std::string("bench")});
        std::string storage;
        size_t size = answer.SelectSingleNode("/response/patch/add")->TextView(storage).size();
        if (size != expected) {
            std::fprintf(stderr, "patch text of %zu bytes, expected %zu\n", size, expected);
            return 2;
        }
        return 0;
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
}

}  // namespace

// The transport alone, for a look at where the time goes.
int Raw(const std::string &url) {
    HttpsSession session("INTERNET_OPEN_TYPE_DIRECT", "", "");
    std::string envelope = Envelope(kMethod, Base64Encode(RequestDocument(kMethod, NewRequestId(), "")));
    auto start = std::chrono::steady_clock::now();
    HttpsResponse response =
        HttpsRequest("POST", url, "Content-Type: text/xml\r\n", envelope.data(), envelope.size(), 600000);
    std::fprintf(stderr, "transport: %.2f s for %zu bytes\n",
                 std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count(), response.body.size());
    return 0;
}

int main(int argc, char **argv) {
    if (argc == 4 && std::strcmp(argv[1], "--client") == 0) return Client(argv[2], std::stoul(argv[3]));
    if (argc == 3 && std::strcmp(argv[1], "--raw") == 0) return Raw(argv[2]);
    if (argc >= 4 && std::strcmp(argv[1], "--measure") == 0) return Measure(argv[2], argv + 3);
    int rounds = 5;
    if (argc == 3 && std::strcmp(argv[1], "--rounds") == 0) {
        rounds = std::max(1, std::atoi(argv[2]));
    } else if (argc != 1) {
        std::fprintf(stderr, "usage: xmlrpc_bench [--rounds N]   (default 5)\n");
        return 2;
    }

    // The inner answer, with the request identifier at an offset divisible by 3 so that its base64
    // can be put into the prepared body for each request.
    std::string patch(kPatchBytes, '\0');
    uint32_t state = 12345;
    for (char &byte : patch) {
        state = state * 1103515245 + 12345;
        byte = static_cast<char>(state >> 23);
    }
    std::string patchText = Base64Encode(patch);
    patch.clear();
    patch.shrink_to_fit();
    std::string prefix = std::string("<response type=\"") + kMethod + "\" id=\"1\" request-id=\"";
    while (prefix.size() % 3 != 0) prefix.insert(9, " ");
    std::string rest =
        "\"><patch version=\"00000002\"><add name=\"app.bin\">" + patchText + "</add></patch></response>";
    std::string head = "<?xml version=\"1.0\"?><methodResponse><params><param><value><string>" + Base64Encode(prefix);
    std::string body =
        head + std::string(48, 'A') + Base64Encode(rest) + "</string></value></param></params></methodResponse>";
    rest.clear();
    rest.shrink_to_fit();
    const size_t idAt = head.size();

    peers::TestPki pki;
    // The answer is ready before the request comes; only the identifier is put in.
    std::string answer = peers::Response(200, "Content-Type: text/xml\r\n", body);
    const size_t answerIdAt = answer.size() - body.size() + idAt;
    peers::TestServer server(&pki, [&](const peers::ReceivedRequest &request) {
        size_t from = request.body.find("<string>");
        size_t to = request.body.find("</string>");
        if (from == std::string::npos || to == std::string::npos) return peers::Response(400, "", "");
        auto inner = Base64Decode(request.body.substr(from + 8, to - from - 8));
        if (!inner) return peers::Response(400, "", "");
        std::string document(reinterpret_cast<const char *>(inner->data()), inner->size());
        size_t id = document.find(" id=\"");
        if (id == std::string::npos || id + 5 + 36 > document.size()) return peers::Response(400, "", "");
        answer.replace(answerIdAt, 48, Base64Encode(document.substr(id + 5, 36)));
        return answer;
    });
    peers::TempDir dir;
    std::ofstream(dir.File("body.xml"), std::ios::binary) << body;

    std::string self = "/proc/self/exe";
    char path[4096];
    ssize_t length = readlink(self.c_str(), path, sizeof path - 1);
    path[length > 0 ? length : 0] = '\0';
    std::string url = "https://localhost:" + std::to_string(server.Port()) + "/RPC2";
    std::vector<std::string> env = {"SSL_CERT_FILE=" + pki.CaFile(), "PATH=/usr/bin:/bin"};
    std::string report = dir.File("report.txt");
    if (std::getenv("ZOLM_BENCH_RAW") != nullptr) RunChild(path, {path, "--raw", url}, env, report);
    // Rounds alternate the order, and the medians are compared: on a busy machine single runs move
    // by a third either way.
    std::vector<Measured> calls, baselines;
    for (int r = 0; r < rounds; ++r) {
        for (int side = 0; side < 2; ++side) {
            if ((side == 0) == (r % 2 == 0))
                calls.push_back(RunChild(path, {path, "--client", url, std::to_string(patchText.size())}, env, report));
            else
                baselines.push_back(RunChild(path, {"xmllint", "--noout", "--huge", dir.File("body.xml")}, env, report));
        }
        if (calls.back().status != 0 || baselines.back().status != 0) {
            std::fprintf(stderr, "failed: call %d, xmllint %d\n", calls.back().status, baselines.back().status);
            return 1;
        }
    }
    auto median = [](std::vector<Measured> runs) {
        std::sort(runs.begin(), runs.end(), [](const Measured &a, const Measured &b) { return a.seconds < b.seconds; });
        Measured m = runs[runs.size() / 2];
        for (const Measured &run : runs) m.peakMb = std::max(m.peakMb, run.peakMb);  // the worst peak
        return m;
    };
    Measured call = median(calls), baseline = median(baselines);
    double bodyMb = static_cast<double>(body.size()) / (1 << 20);
    std::printf("XML-RPC answer of %.1f MB (inner patch text %.1f MB), median of %d rounds\n", bodyMb,
                static_cast<double>(patchText.size()) / (1 << 20), rounds);
    std::printf("XmlRpcCall end to end: %.2f s, peak %.0f MB\n", call.seconds, call.peakMb);
    std::printf("xmllint --noout --huge:  %.2f s, peak %.0f MB\n", baseline.seconds, baseline.peakMb);
    std::printf("time ratio %.2f (target <= 3), peak memory %.2f x body (target <= 5), %.2f x xmllint\n",
                call.seconds / baseline.seconds, call.peakMb / bodyMb, call.peakMb / baseline.peakMb);
    return 0;
}
