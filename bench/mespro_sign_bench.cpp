// cp_SignData of zolm_cp_messagepro4 against the limit: a minimal in-process OpenSSL GOST CMS
// signing loop with the same key and certificate. Prints rates and the ratios of one run.
// Targets: 1 KB signatures at no less than 0.7x the baseline's rate; 64 MB within 1.2x its time.
#include <openssl/pkcs12.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

#include "platform/mespro/tests/test_ca.h"
#include "testing/test_host.h"
#include "zolm/provider.h"

namespace {

using Clock = std::chrono::steady_clock;

const char kTemplate[] = R"(<response><SubjectSignTool><SignTool>bench</SignTool></SubjectSignTool>
<Subject><OID order="1"><Key>2.5.4.3</Key><Value>Bench</Value></OID></Subject><Extensions/><SignAlgorithm/></response>)";

void Check(char *result, const char *what) {
    if (result != nullptr) {
        std::fprintf(stderr, "%s: %s\n", what, result);
        std::exit(1);
    }
}

// Seconds per signature of `sign`, over a batch that lasts at least minSeconds and minRuns.
template <typename Sign>
double SecondsPerSignature(Sign &&sign, double minSeconds, int minRuns) {
    int runs = 0;
    auto start = Clock::now();
    double elapsed = 0;
    do {
        sign();
        ++runs;
        elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    } while (elapsed < minSeconds || runs < minRuns);
    return elapsed / runs;
}

// Batches of the two alternate, and each keeps its best batch, so that load from other processes
// during the run weighs on both sides alike.
constexpr int kRounds = 5;

}  // namespace

int main() {
    zolm::testing::TestHost host;
    mespro_test::TestCa ca;
    Check(cp_Init(host.Table(), ZOLM_BIN_DIR "/"), "cp_Init");
    host.SetParameter("no_key_callback", "1");
    Check(cp_GenerateKey(1, "pw", "1.2.643.7.1.2.1.1.1", "1.2.643.7.1.1.3.2"), "cp_GenerateKey");
    Check(cp_MakeRequest(1, "pw", kTemplate), "cp_MakeRequest");
    host.PutFile(1, "cert.pem", ca.Issue(host.FileBytes(1, "req.pem")));
    Check(cp_ActivateKey(1), "cp_ActivateKey");

    // The baseline's key and certificate: the same files, opened once.
    std::string der = host.FileBytes(1, "key.der");
    const unsigned char *p = reinterpret_cast<const unsigned char *>(der.data());
    mespro::X509SigPtr sealed(d2i_X509_SIG(nullptr, &p, static_cast<long>(der.size())));
    mespro::P8InfoPtr info(PKCS8_decrypt(sealed.get(), "pw", 2));
    mespro::PkeyPtr key(EVP_PKCS82PKEY(info.get()));
    mespro::X509Ptr cert = mespro_test::ReadCertificatePem(host.FileBytes(1, "cert.pem"));
    if (!key || !cert) {
        std::fprintf(stderr, "baseline key or certificate unreadable\n");
        return 1;
    }

    std::printf("%-8s %16s %16s %8s  %s\n", "data", "cp_SignData", "OpenSSL CMS", "ratio", "target");
    struct Size {
        const char *name;
        size_t bytes;
        double minSeconds;
        int minRuns;
        bool rate;  // report signatures per second (else seconds per signature)
    };
    for (const Size &size : {Size{"1 KB", 1024, 0.4, 20, true}, Size{"64 MB", 64u << 20, 0.0, 1, false}}) {
        std::string data(size.bytes, 'd');
        auto pluginBatch = [&] {
            return SecondsPerSignature(
                [&] {
                    void *signature = nullptr;
                    uint32_t length = 0;
                    char *text = nullptr;
                    Check(cp_SignData(1, "pw", data.data(), static_cast<uint32_t>(data.size()), 0, &signature, &length,
                                      &text),
                          "cp_SignData");
                    cp_ReleaseMemory(signature, length);
                    cp_ReleaseMemory(text, 1);
                },
                size.minSeconds, size.minRuns);
        };
        auto baselineBatch = [&] {
            return SecondsPerSignature(
                [&] {
                    mespro::BioPtr in(BIO_new_mem_buf(data.data(), static_cast<int>(data.size())));
                    mespro::CmsPtr cms(CMS_sign(cert.get(), key.get(), nullptr, in.get(), CMS_BINARY | CMS_NOSMIMECAP));
                    unsigned char *out = nullptr;
                    int length = cms ? i2d_CMS_ContentInfo(cms.get(), &out) : -1;
                    if (length <= 0) std::exit(1);
                    OPENSSL_free(out);
                },
                size.minSeconds, size.minRuns);
        };
        double plugin = 1e9, baseline = 1e9;
        for (int round = 0; round < kRounds; ++round) {
            plugin = std::min(plugin, pluginBatch());
            baseline = std::min(baseline, baselineBatch());
        }
        if (size.rate) {
            std::printf("%-8s %14.1f/s %14.1f/s %7.2fx  rate >= 0.70x\n", size.name, 1 / plugin, 1 / baseline,
                        baseline / plugin);
        } else {
            std::printf("%-8s %15.3fs %15.3fs %7.2fx  time <= 1.20x\n", size.name, plugin, baseline, plugin / baseline);
        }
    }
    return 0;
}
