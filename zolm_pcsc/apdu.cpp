// The exchange of one APDU and the T=0 rules around it. T=0 carries TPDUs, not APDUs: a header of
// exactly five bytes (CLA INS P1 P2 P3) with P3 the length of whichever data goes one way, and the
// card steers the length of outgoing data with 6Cxx and 61xx. T=1 carries APDUs as they are.
#include "zolm_pcsc/apdu.h"

#include <cstring>

#include "common/formatted_exception.h"
#include "zolm_pcsc/result_text.h"

namespace zolm::pcsc {
namespace {

struct StatusWord {
    uint8_t sw1;
    uint8_t sw2;
};

// SW1 values by which a T=0 card asks for the command again with another length, or offers data.
constexpr uint8_t kWrongLength = 0x6C;
constexpr uint8_t kBytesAvailable = 0x61;

// Sends command and appends the card's response, status word included, to answer.
StatusWord Exchange(PcscApi &api, SCARDHANDLE card, uint32_t protocol, const CMemoryBuffer &command,
                    CMemoryBuffer &answer) {
    const SCARD_IO_REQUEST sendHeader{protocol, sizeof(SCARD_IO_REQUEST)};
    const size_t start = answer.Length();
    answer.Reserve(kReceiveSize);
    uint8_t *received = answer.Data() + start;
    std::memset(received, 0, kReceiveSize);
    DWORD receivedLength = kReceiveSize;
    LONG rv = api.Transmit(card, &sendHeader, command.Data(), command.Length(), received, &receivedLength);
    if (rv != SCARD_S_SUCCESS) ThrowCallFailure("SCardTransmit", rv);
    // Every response ends with a status word; and the service must not report more than it had room for.
    ZOLM_PCSC_ASSERT(receivedLength >= 2);
    ZOLM_PCSC_ASSERT(receivedLength <= kReceiveSize);
    answer.SetLength(start + receivedLength);
    return {received[receivedLength - 2], received[receivedLength - 1]};
}

// Cases 1 to 4 of ISO/IEC 7816-4 mapped onto a T=0 header; any other case value leaves the command
// as the caller built it.
void AdaptCaseToT0(CMemoryBuffer &command, int32_t apduCase) {
    switch (apduCase) {
    case 1:
        // A T=0 header always has P3: a bare CLA INS P1 P2 gets P3 = 0 (no data either way).
        if (command.Length() == 4) {
            const uint8_t p3 = 0x00;
            command.Append(&p3, 1);
        }
        break;
    case 2:
    case 4:
        // T=0 carries no Le: the card announces its data with 61xx (case 4) or asks for the exact
        // length with 6Cxx (case 2), so the trailing Le is dropped.
        if (command.Length() != 0) command.SetLength(command.Length() - 1);
        break;
    default:
        break;
    }
}

}  // namespace

CMemoryBufferPtr Transceive(PcscApi &api, SCARDHANDLE card, uint32_t protocol, const uint8_t *command,
                            size_t commandLength, int32_t apduCase) {
    CMemoryBufferPtr sent = CMemoryBuffer::Create(command, commandLength);
    CMemoryBufferPtr answer = CMemoryBuffer::Create();
    if (protocol != SCARD_PROTOCOL_T0) {
        Exchange(api, card, protocol, *sent, *answer);
        return answer;
    }

    AdaptCaseToT0(*sent, apduCase);
    StatusWord sw = Exchange(api, card, protocol, *sent, *answer);

    // 6Cxx: wrong length, xx is the right one. The command is repeated once with xx as P3, and only
    // the repeated command's response counts.
    if (sw.sw1 == kWrongLength) {
        sent->Append(&sw.sw2, 1);
        answer->SetLength(0);
        sw = Exchange(api, card, protocol, *sent, *answer);
    }

    // 61xx: xx more bytes are waiting (00 meaning 256). GET RESPONSE fetches them; the parts join in
    // order and only the last status word stays, as if the card had answered in one piece.
    for (unsigned rounds = 0; sw.sw1 == kBytesAvailable; ++rounds) {
        if (rounds == kMaxGetResponseRounds)
            throw formatted_exception("GET RESPONSE chain exceeds %u rounds", kMaxGetResponseRounds);
        const uint8_t getResponse[] = {0x00, 0xC0, 0x00, 0x00, sw.sw2};
        CMemoryBufferPtr fetch = CMemoryBuffer::Create(getResponse, sizeof getResponse);
        answer->SetLength(answer->Length() - 2);
        sw = Exchange(api, card, protocol, *fetch, *answer);
        if (answer->Length() - 2 > kMaxChainedData)
            throw formatted_exception("GET RESPONSE chain exceeds %zu bytes", kMaxChainedData);
    }
    return answer;
}

}  // namespace zolm::pcsc
