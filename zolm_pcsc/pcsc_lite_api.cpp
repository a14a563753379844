// The PcscApi adapter on pcsc-lite: each method is the PC/SC call of the same name.
#include "zolm_pcsc/pcsc_api.h"

namespace zolm::pcsc {
namespace {

class PcscLite final : public PcscApi {
public:
    LONG EstablishContext(DWORD scope, SCARDCONTEXT *context) override {
        return SCardEstablishContext(scope, nullptr, nullptr, context);
    }
    LONG ReleaseContext(SCARDCONTEXT context) override { return SCardReleaseContext(context); }
    LONG ListReaders(SCARDCONTEXT context, char *readers, DWORD *size) override {
        return SCardListReaders(context, nullptr, readers, size);
    }
    LONG Connect(SCARDCONTEXT context, const char *reader, DWORD shareMode, DWORD preferredProtocols,
                 SCARDHANDLE *card, DWORD *activeProtocol) override {
        return SCardConnect(context, reader, shareMode, preferredProtocols, card, activeProtocol);
    }
    LONG Status(SCARDHANDLE card, DWORD *state, DWORD *protocol, BYTE *atr, DWORD *atrLength) override {
        return SCardStatus(card, nullptr, nullptr, state, protocol, atr, atrLength);
    }
    LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST *sendHeader, const BYTE *command, DWORD commandLength,
                  BYTE *response, DWORD *responseLength) override {
        return SCardTransmit(card, sendHeader, command, commandLength, nullptr, response, responseLength);
    }
    LONG Disconnect(SCARDHANDLE card, DWORD disposition) override { return SCardDisconnect(card, disposition); }
};

}  // namespace

PcscApi &SystemPcsc() {
    static PcscLite adapter;
    return adapter;
}

}  // namespace zolm::pcsc
