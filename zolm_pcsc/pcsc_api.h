// The PC/SC calls the library makes, behind one small interface: the real adapter talks to
// pcsc-lite, tests put a scripted double in its place. Arguments and results keep the published
// PC/SC meaning (pcsc-lite's types: DWORD and LONG are 64 bits wide on this platform).
#pragma once

#include <winscard.h>

namespace zolm::pcsc {

class PcscApi {
public:
    virtual ~PcscApi() = default;

    virtual LONG EstablishContext(DWORD scope, SCARDCONTEXT *context) = 0;
    virtual LONG ReleaseContext(SCARDCONTEXT context) = 0;
    // No group filter. readers == nullptr asks only for the size (NULs included) through *size.
    virtual LONG ListReaders(SCARDCONTEXT context, char *readers, DWORD *size) = 0;
    virtual LONG Connect(SCARDCONTEXT context, const char *reader, DWORD shareMode, DWORD preferredProtocols,
                         SCARDHANDLE *card, DWORD *activeProtocol) = 0;
    // Without the reader name; *atrLength holds the atr buffer's size on entry.
    virtual LONG Status(SCARDHANDLE card, DWORD *state, DWORD *protocol, BYTE *atr, DWORD *atrLength) = 0;
    // No receive protocol header is requested.
    virtual LONG Transmit(SCARDHANDLE card, const SCARD_IO_REQUEST *sendHeader, const BYTE *command,
                          DWORD commandLength, BYTE *response, DWORD *responseLength) = 0;
    virtual LONG Disconnect(SCARDHANDLE card, DWORD disposition) = 0;
};

// The adapter on pcsc-lite. It holds no state, so one instance serves the whole process.
PcscApi &SystemPcsc();

}  // namespace zolm::pcsc
