// Readers and card connections: the work behind the five exports, on any PcscApi. Every function
// raises formatted_exception on failure; the exports turn that into the result convention.
#pragma once

#include <cstdint>

#include "zolm/pcsc.h"
#include "zolm_pcsc/handles.h"
#include "zolm_pcsc/pcsc_api.h"

// One open card connection, owned by the caller from OpenReader to CloseReader. The context is
// declared first so that an unfinished record undoes in reverse order: card, then context.
struct ReaderHandle {
    explicit ReaderHandle(zolm::pcsc::PcscApi &pcsc) : api(&pcsc), context(pcsc), card(pcsc) {}

    zolm::pcsc::PcscApi *api;
    zolm::pcsc::ContextHandle context;  // this reader's own resource-manager context, user scope
    zolm::pcsc::CardHandle card;
    uint32_t activeProtocol = 0;  // SCARD_PROTOCOL_T0 or SCARD_PROTOCOL_T1, as agreed at connection
};

namespace zolm::pcsc {

// *list receives null (no reader, or no PC/SC service) or a new block with the reader names, each
// followed by a NUL, and one more NUL at the end.
void ListReaders(PcscApi &api, char **list);

// Connects to the card in readerName. On failure nothing is stored through handle or atrLength.
void OpenReader(PcscApi &api, const char *readerName, ReaderHandle **handle, uint8_t *atr, uint32_t *atrLength);

// *response and *responseLength are null and 0 after any failure; on success a new block.
void SendCommand(ReaderHandle *handle, const uint8_t *command, uint32_t commandLength, int32_t apduCase,
                 uint8_t **response, uint32_t *responseLength);

// Frees the handle on every path.
void CloseReader(ReaderHandle *handle);

}  // namespace zolm::pcsc
