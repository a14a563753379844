// Benchmark of ukep_EnumerateCertificates (zolm_ukep.so over the software CSP): 500 certificates in
// "My" and 50 containers, against the limit of the same run: a bare OpenSSL loop that reads the same
// certificate files, parses them and computes their SHA-1. Prints both times (median of several
// rounds) and their ratio. Target: within 2x of the baseline.
#include <openssl/sha.h>
#include <openssl/x509.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "platform/softcsp/csp.h"
#include "zolm/ukep.h"
#include "zolm_ukep/tests/cert_factory.h"

namespace fs = std::filesystem;
using softcsp::Bytes;

namespace {

constexpr int kStoreCertificates = 500;
constexpr int kContainers = 50;
constexpr int kRounds = 7;

double MedianSeconds(const std::function<void()> &work) {
    std::vector<double> times;
    for (int i = 0; i < kRounds; ++i) {
        auto start = std::chrono::steady_clock::now();
        work();
        times.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

void Fill(softcsp::Csp &csp) {
    using ukep::testing::MakeCertificate;
    std::vector<std::string> containers;
    for (int i = 0; i < kContainers; ++i) {
        std::string path = "\\\\.\\REGISTRY\\bench-" + std::to_string(i);
        softcsp::ProvHandle h = 0;
        if (csp.AcquireContext(&h, path.c_str(), softcsp::kProvider2012, 80, softcsp::CRYPT_NEWKEYSET) != 0 ||
            csp.GenerateKey(h, softcsp::AT_KEYEXCHANGE) != 0)
            throw std::runtime_error("container");
        Bytes spki;
        csp.ExportPublicKeyInfo(h, softcsp::AT_KEYEXCHANGE, &spki);
        csp.SetKeyCertificate(h, softcsp::AT_KEYEXCHANGE,
                              MakeCertificate({.subject = {{"CN", "Container " + std::to_string(i)}}}, spki));
        csp.ReleaseContext(h);
        containers.push_back(path);
    }
    for (int i = 0; i < kStoreCertificates; ++i) {
        softcsp::StoredCertificate entry{
            MakeCertificate({.subject = {{"CN", "Store " + std::to_string(i)}, {"SN", "Фамилия"}, {"GN", "Имя"}}}),
            softcsp::KeyProvInfo{containers[i % kContainers], softcsp::kProvider2012, 80, softcsp::AT_KEYEXCHANGE}};
        csp.AddToStore("My", entry);
    }
}

}  // namespace

int main() {
    char pattern[] = "/tmp/ukep-bench-XXXXXX";
    if (mkdtemp(pattern) == nullptr) return 1;
    std::string dir = pattern;
    setenv("ZOLM_CSP_DIR", dir.c_str(), 1);
    Fill(*softcsp::OpenSoftCsp(dir, softcsp::kDefaultVersion));

    std::vector<std::string> files;
    for (const auto &entry : fs::recursive_directory_iterator(dir))
        if (entry.path().extension() == ".cer") files.push_back(entry.path());

    size_t baselineCount = 0;
    double baseline = MedianSeconds([&] {
        baselineCount = 0;
        for (const auto &file : files) {
            std::ifstream in(file, std::ios::binary);
            std::string der((std::istreambuf_iterator<char>(in)), {});
            const auto *p = reinterpret_cast<const unsigned char *>(der.data());
            X509 *cert = d2i_X509(nullptr, &p, static_cast<long>(der.size()));
            unsigned char digest[SHA_DIGEST_LENGTH];
            SHA1(reinterpret_cast<const unsigned char *>(der.data()), der.size(), digest);
            baselineCount += cert != nullptr && (digest[0] | 1) != 0;
            X509_free(cert);
        }
    });

    if (char *error = ukep_Init(nullptr)) {
        std::fprintf(stderr, "ukep_Init: %s\n", error);
        return 1;
    }
    int32_t listed = 0;
    double library = MedianSeconds([&] {
        char *list = nullptr;
        int32_t length = 0;
        if (char *error = ukep_EnumerateCertificates(&list, &length)) {
            std::fprintf(stderr, "ukep_EnumerateCertificates: %s\n", error);
            std::exit(1);
        }
        listed = static_cast<int32_t>(std::count(list, list + length, ',') + (length > 0));
        ukep_ReleaseMemory(list, length);
    });
    ukep_Done();
    fs::remove_all(dir);

    std::printf("certificates: %zu files read by the baseline, %d listed\n", baselineCount, listed);
    std::printf("baseline (read, parse, SHA-1): %.2f ms\n", baseline * 1000);
    std::printf("ukep_EnumerateCertificates:    %.2f ms\n", library * 1000);
    std::printf("ratio: %.2f (target: 2.00 or less)\n", library / baseline);
    return 0;
}
