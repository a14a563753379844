// Benchmark of cp_SignData (zolm_cp_cryptopro with the software CSP): detached signatures of 1 KB and
// of 64 MB, against the limit of the same run: a bare OpenSSL GOST CMS detached signing loop with the
// same key and certificate. Prints the 1 KB rates and the 64 MB times (median of several rounds) and
// their ratios. Targets: 1 KB at no less than 0.7 of the baseline rate, 64 MB within 1.2 of its time.
#include <openssl/cms.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "platform/softcsp/gost.h"
#include "platform/softcsp/key_file.h"
#include "platform/softcsp/tests/test_ca.h"
#include "zolm/provider.h"
#include "zolm_cp_cryptopro/csp_access.h"

namespace {

// A host of the least cost, so the figures are the plug-in's: one medium whose files live in memory
// (the TestHost below only prepares the key; its bookkeeping would dominate a 1 KB signature).
std::map<std::string, std::string> g_files;
const char kSerial[] = "BENCH-0001";

int32_t ZOLM_STDCALL Release(uint32_t, void *block, uint32_t) {
    std::free(block);
    return 1;
}
int32_t ZOLM_STDCALL Confirm(uint32_t, const char *) { return 0; }
int32_t ZOLM_STDCALL ReadFile(uint32_t, const char *name, void **block, uint32_t *length) {
    auto it = g_files.find(name);
    if (it == g_files.end()) return 0;
    *block = std::malloc(it->second.size() + 1);
    std::memcpy(*block, it->second.data(), it->second.size());
    *length = static_cast<uint32_t>(it->second.size());
    return 1;
}
int32_t ZOLM_STDCALL WriteFile(uint32_t, const char *name, const void *data, uint32_t length) {
    g_files[name].assign(static_cast<const char *>(data), length);
    return 1;
}
int32_t ZOLM_STDCALL DeleteFile(uint32_t, const char *name) { return g_files.erase(name) == 1; }
int32_t ZOLM_STDCALL RenameFile(uint32_t, const char *, const char *) { return 0; }
int32_t ZOLM_STDCALL FileExists(uint32_t, const char *name, int32_t *exists) {
    *exists = g_files.count(name) != 0;
    return 1;
}
int32_t ZOLM_STDCALL SerialNumber(uint32_t, char **text) {
    *text = static_cast<char *>(std::malloc(sizeof kSerial));
    std::memcpy(*text, kSerial, sizeof kSerial);
    return 1;
}
HostGeneral g_general = {&Release, &Confirm};
HostMedium g_medium = {&ReadFile,     &WriteFile, &DeleteFile, &RenameFile, &FileExists,
                       &SerialNumber, {},         nullptr,     &Release};
HostTable g_host = {&g_general, &g_medium, nullptr, nullptr};

// Seconds per operation of a and of b, the median of `rounds` rounds; the two alternate within each
// round, so a change of machine load during the run weighs on both alike.
std::pair<double, double> SecondsPerOp(int rounds, int iterations, const std::function<void()> &a,
                                       const std::function<void()> &b) {
    std::vector<double> timesA, timesB;
    auto time = [iterations](const std::function<void()> &op) {
        auto start = std::chrono::steady_clock::now();
        for (int i = 0; i < iterations; ++i) op();
        std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        return took.count() / iterations;
    };
    for (int round = 0; round < rounds; ++round) {
        timesA.push_back(time(a));
        timesB.push_back(time(b));
    }
    std::sort(timesA.begin(), timesA.end());
    std::sort(timesB.begin(), timesB.end());
    return {timesA[timesA.size() / 2], timesB[timesB.size() / 2]};
}

void Fail(const char *what, char *text) {
    std::fprintf(stderr, "%s: %s\n", what, text ? text : "failed");
    std::exit(1);
}

}  // namespace

int main() {
    char tmpl[] = "/tmp/zolm-cryptopro-bench-XXXXXX";
    if (mkdtemp(tmpl) == nullptr) return 1;
    std::string cspDir = tmpl;
    auto csp = softcsp::OpenSoftCsp(cspDir, softcsp::kDefaultVersion);
    cryptopro::UseCsp(csp.get());
    int status = 0;
    {
        if (char *e = cp_Init(&g_host, "")) Fail("cp_Init", e);
        if (char *e = cp_GenerateKey(1, "pin", "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.2")) Fail("cp_GenerateKey", e);
        std::string name = g_files["container"].substr(1);
        std::string container = cspDir + "/containers/REGISTRY/zolm-" + name;

        // The certificate for the new key, as a CA would issue it; then the key becomes the active one.
        std::ifstream pub(container + "/signature.pub", std::ios::binary);
        softcsp::Bytes spki((std::istreambuf_iterator<char>(pub)), {});
        softcsp::testing::TestCa ca;
        softcsp::Bytes certificate = ca.Issue(spki, "Bench");
        g_files["cert.pem"] = softcsp::testing::ToPem(certificate, "CERTIFICATE");
        if (char *e = cp_ActivateKey(1)) Fail("cp_ActivateKey", e);

        // The baseline's key and certificate: the same key, opened once.
        std::ifstream sealedFile(container + "/signature.key", std::ios::binary);
        softcsp::Bytes sealed((std::istreambuf_iterator<char>(sealedFile)), {});
        auto pkcs8 = softcsp::OpenKey(sealed, "pin");
        softcsp::PkeyPtr key = softcsp::PrivateKeyFromDer(*pkcs8);
        softcsp::Wipe(*pkcs8);
        const unsigned char *p = certificate.data();
        softcsp::X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(certificate.size())));
        const EVP_MD *md = EVP_get_digestbynid(NID_id_GostR3411_2012_256);

        auto baseline = [&](const std::vector<uint8_t> &data) {
            softcsp::BioPtr in(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
            unsigned flags = CMS_DETACHED | CMS_BINARY | CMS_PARTIAL;
            softcsp::CmsPtr cms(CMS_sign(nullptr, nullptr, nullptr, nullptr, flags));
            CMS_add1_signer(cms.get(), cert.get(), key.get(), md, flags | CMS_NOATTR);
            CMS_final(cms.get(), in.get(), nullptr, flags);
            unsigned char *der = nullptr;
            int length = i2d_CMS_ContentInfo(cms.get(), &der);
            if (length <= 0) std::exit(1);
            OPENSSL_free(der);
        };
        auto plugin = [&](const std::vector<uint8_t> &data) {
            void *signature = nullptr;
            uint32_t length = 0;
            char *info = nullptr;
            if (char *e = cp_SignData(1, "pin", data.data(), static_cast<uint32_t>(data.size()), 0, &signature, &length,
                                      &info))
                Fail("cp_SignData", e);
            cp_ReleaseMemory(signature, length);
            cp_ReleaseMemory(info, 1);
        };

        std::vector<uint8_t> small(1024, 0x31), large(64u << 20, 0x32);
        plugin(small);  // the first signature opens the container and checks the PIN
        auto [baseSmall, plugSmall] = SecondsPerOp(
            21, 300, [&] { baseline(small); }, [&] { plugin(small); });
        auto [baseLarge, plugLarge] = SecondsPerOp(
            5, 1, [&] { baseline(large); }, [&] { plugin(large); });
        double rateRatio = baseSmall / plugSmall, timeRatio = plugLarge / baseLarge;
        std::printf(
            "1 KB:  cp_SignData %.0f signatures/s, OpenSSL CMS %.0f signatures/s, ratio %.2f (target >= 0.70)\n",
            1 / plugSmall, 1 / baseSmall, rateRatio);
        std::printf("64 MB: cp_SignData %.3f s, OpenSSL CMS %.3f s, ratio %.2f (target <= 1.20)\n", plugLarge,
                    baseLarge, timeRatio);
        cryptopro::UseCsp(nullptr);
    }
    std::filesystem::remove_all(cspDir);
    return status;
}
