// pcsc_SendCommand against raw SCardTransmit: the same APDUs to the same virtual card over the same
// card connection of a private pcscd, in one run, alternating in short blocks so that drift in the
// machine's load hits both. Reports the time per APDU of each and their ratio (target: within 1.1).
#include <winscard.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "zolm/pcsc.h"
#include "zolm_pcsc/reader.h"
#include "zolm_pcsc/testing/test_pcscd.h"
#include "zolm_pcsc/testing/virtual_card.h"

using namespace zolm::pcsc::testing;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kApdus = 10000;
// Short blocks, alternating, so that a burst of load from elsewhere on the machine hits both paths.
constexpr int kBlocks = 100;
// A case-3 SELECT: sent unchanged under T=0, so both paths put the same bytes on the wire.
const uint8_t kCommand[] = {0x00, 0xA4, 0x04, 0x00, 0x07, 0xA0, 0x00, 0x00, 0x00, 0x03, 0x10, 0x10};

[[noreturn]] void Fail(const char *what, const char *detail) {
    std::fprintf(stderr, "pcsc_bench: %s%s%s\n", what, detail ? ": " : "", detail ? detail : "");
    std::exit(1);
}

}  // namespace

int main() {
    TestPcscd::SocketPath();
    TestPcscd daemon;
    try {
        daemon.Start(true);
    } catch (const std::exception &e) {
        Fail("cannot start pcscd", e.what());
    }
    const Bytes answer = HexBytes("6F1A840E315041592E5359532E4444463031A5088801025F2D02656E9000");
    VirtualCard card(HexBytes("3B021450"), [&](const Bytes &) { return answer; });
    if (!card.Insert(daemon.VpcdPort()) || !TestPcscd::WaitForCard(TestPcscd::kVpcdReader, true))
        Fail("the virtual card did not come up", nullptr);

    ReaderHandle *handle = nullptr;
    uint8_t atr[40];
    uint32_t atrLength = sizeof atr;
    if (char *error = pcsc_OpenReader(TestPcscd::kVpcdReader, &handle, atr, &atrLength)) Fail("pcsc_OpenReader", error);

    // The raw path transmits on the very card connection the library opened (the bench is built with
    // the library's own record definition), so both go through the same client context and the same
    // pcscd thread, and the difference is the library's own work.
    const SCARDHANDLE raw = handle->card.Get();
    const SCARD_IO_REQUEST header{handle->activeProtocol, sizeof(SCARD_IO_REQUEST)};

    auto library = [&](int count) {
        for (int i = 0; i < count; ++i) {
            uint8_t *response = nullptr;
            uint32_t length = 0;
            if (char *error = pcsc_SendCommand(handle, kCommand, sizeof kCommand, 3, &response, &length))
                Fail("pcsc_SendCommand", error);
            pcsc_ReleaseMemory(response, length);
        }
    };
    auto direct = [&](int count) {
        for (int i = 0; i < count; ++i) {
            uint8_t response[4096];
            DWORD length = sizeof response;
            if (SCardTransmit(raw, &header, kCommand, sizeof kCommand, nullptr, response, &length) != SCARD_S_SUCCESS)
                Fail("SCardTransmit", nullptr);
        }
    };

    library(200);  // warm-up of both paths
    direct(200);
    Clock::duration libraryTime{}, directTime{};
    std::vector<double> blockRatios;
    for (int block = 0; block < kBlocks; ++block) {
        // Each path goes first in every other block, so neither always follows the other.
        const bool libraryFirst = block % 2 == 0;
        auto start = Clock::now();
        libraryFirst ? library(kApdus / kBlocks) : direct(kApdus / kBlocks);
        auto middle = Clock::now();
        libraryFirst ? direct(kApdus / kBlocks) : library(kApdus / kBlocks);
        auto end = Clock::now();
        libraryTime += libraryFirst ? middle - start : end - middle;
        directTime += libraryFirst ? end - middle : middle - start;
        blockRatios.push_back(libraryFirst ? double((middle - start).count()) / double((end - middle).count())
                                           : double((end - middle).count()) / double((middle - start).count()));
    }

    auto perApdu = [](Clock::duration total) {
        return std::chrono::duration<double, std::micro>(total).count() / kApdus;
    };
    double ratio = perApdu(libraryTime) / perApdu(directTime);
    std::printf("APDUs per path:      %d\n", kApdus);
    std::printf("pcsc_SendCommand:    %.1f us/APDU\n", perApdu(libraryTime));
    std::printf("SCardTransmit (raw): %.1f us/APDU\n", perApdu(directTime));
    std::printf("ratio:               %.3f (target <= 1.100)\n", ratio);
    std::sort(blockRatios.begin(), blockRatios.end());
    std::printf("median block ratio:  %.3f (less sensitive to load from elsewhere)\n", blockRatios[kBlocks / 2]);

    if (char *error = pcsc_CloseReader(handle)) Fail("pcsc_CloseReader", error);
    return 0;
}
