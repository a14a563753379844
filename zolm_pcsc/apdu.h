// One command APDU through PC/SC, with the T=0 transport rules of ISO/IEC 7816-3 and 7816-4.
#pragma once

#include <cstddef>
#include <cstdint>

#include "common/memory_buffer.h"
#include "zolm_pcsc/pcsc_api.h"

namespace zolm::pcsc {

// Each exchange receives at most this many bytes, response data and status word together.
inline constexpr size_t kReceiveSize = 4096;
// Bounds of a 61xx chain, so that a card that never ends it cannot hang the caller: the most data
// an APDU response can announce (extended Le), and rounds enough for it in chunks of 64 bytes.
inline constexpr size_t kMaxChainedData = 65536;
inline constexpr unsigned kMaxGetResponseRounds = 1024;

// Sends command (of ISO/IEC 7816-4 case apduCase) to the card over protocol, applying the T=0
// rules when protocol is SCARD_PROTOCOL_T0, and returns the whole response, status word last.
// Raises formatted_exception on a failed exchange, a response without a status word, or a chain
// beyond the bounds above.
CMemoryBufferPtr Transceive(PcscApi &api, SCARDHANDLE card, uint32_t protocol, const uint8_t *command,
                            size_t commandLength, int32_t apduCase);

}  // namespace zolm::pcsc
