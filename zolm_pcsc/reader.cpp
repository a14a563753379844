// Listing readers, opening and closing card connections, and handing responses out.
#include "zolm_pcsc/reader.h"

#include <cstring>
#include <memory>
#include <vector>

#include "common/formatted_exception.h"
#include "common/result.h"
#include "zolm_pcsc/apdu.h"
#include "zolm_pcsc/result_text.h"

namespace zolm::pcsc {
namespace {

void RequireArgument(const void *pointer, const char *name) {
    if (pointer == nullptr) throw formatted_exception("invalid argument: %s is null", name);
}

// A reader plugged in between the size query and the listing makes the list outgrow its buffer;
// the listing is then simply asked for again, a few times at most.
constexpr int kListingAttempts = 3;

// The multi-string of the readers; empty when there is none.
std::vector<char> QueryReaderNames(PcscApi &api, SCARDCONTEXT context) {
    for (int attempt = 1;; ++attempt) {
        DWORD size = 0;
        LONG rv = api.ListReaders(context, nullptr, &size);
        if (rv == SCARD_E_NO_READERS_AVAILABLE) return {};
        if (rv != SCARD_S_SUCCESS) ThrowCallFailure("SCardListReaders", rv);
        if (size == 0) return {};
        std::vector<char> names(size);
        rv = api.ListReaders(context, names.data(), &size);
        if (rv == SCARD_E_NO_READERS_AVAILABLE) return {};
        if (rv == SCARD_E_INSUFFICIENT_BUFFER && attempt < kListingAttempts) continue;
        if (rv != SCARD_S_SUCCESS) ThrowCallFailure("SCardListReaders", rv);
        ZOLM_PCSC_ASSERT(size <= names.size());
        names.resize(size);
        return names;
    }
}

}  // namespace

void ListReaders(PcscApi &api, char **list) {
    RequireArgument(list, "list");
    *list = nullptr;
    ContextHandle context(api);
    LONG rv = api.EstablishContext(SCARD_SCOPE_USER, context.Receive());
    // No service or no reader means an empty list, not a failure.
    if (rv == SCARD_E_NO_READERS_AVAILABLE || rv == SCARD_E_NO_SERVICE) return;
    if (rv != SCARD_S_SUCCESS) ThrowCallFailure("SCardEstablishContext", rv);
    context.Adopt();

    std::vector<char> names = QueryReaderNames(api, context.Get());
    (void)context.Release();  // listing is done; a failure to release changes nothing for the caller

    // The caller finds the end at the double NUL: make sure it is there whatever the service sent.
    while (!names.empty() && names.back() == '\0') names.pop_back();
    if (names.empty()) return;
    names.push_back('\0');
    names.push_back('\0');
    *list = static_cast<char *>(NewBlock(names.data(), names.size()));
}

void OpenReader(PcscApi &api, const char *readerName, ReaderHandle **handle, uint8_t *atr, uint32_t *atrLength) {
    RequireArgument(handle, "handle");
    RequireArgument(atr, "atr");
    RequireArgument(atrLength, "atrLength");
    auto record = std::make_unique<ReaderHandle>(api);

    LONG rv = api.EstablishContext(SCARD_SCOPE_USER, record->context.Receive());
    if (rv != SCARD_S_SUCCESS) ThrowCallFailure("SCardEstablishContext", rv);
    record->context.Adopt();

    DWORD activeProtocol = 0;
    rv = api.Connect(record->context.Get(), readerName, SCARD_SHARE_SHARED, SCARD_PROTOCOL_T0 | SCARD_PROTOCOL_T1,
                     record->card.Receive(), &activeProtocol);
    if (rv != SCARD_S_SUCCESS) ThrowCallFailure("SCardConnect", rv);
    record->card.Adopt();
    ZOLM_PCSC_ASSERT(activeProtocol <= UINT32_MAX);
    record->activeProtocol = static_cast<uint32_t>(activeProtocol);

    DWORD state = 0;
    DWORD protocol = 0;
    DWORD length = *atrLength;
    rv = api.Status(record->card.Get(), &state, &protocol, atr, &length);
    if (rv != SCARD_S_SUCCESS) ThrowCallFailure("SCardStatus", rv);
    // The card must still speak the protocol agreed a moment ago, and the ATR fit the caller's buffer.
    ZOLM_PCSC_ASSERT(protocol == activeProtocol);
    ZOLM_PCSC_ASSERT(length <= *atrLength);

    *atrLength = static_cast<uint32_t>(length);
    *handle = record.release();
}

void SendCommand(ReaderHandle *handle, const uint8_t *command, uint32_t commandLength, int32_t apduCase,
                 uint8_t **response, uint32_t *responseLength) {
    RequireArgument(response, "response");
    RequireArgument(responseLength, "responseLength");
    *response = nullptr;
    *responseLength = 0;
    RequireArgument(handle, "handle");
    if (commandLength != 0) RequireArgument(command, "command");

    CMemoryBufferPtr answer =
        Transceive(*handle->api, handle->card.Get(), handle->activeProtocol, command, commandLength, apduCase);
    if (answer->Length() == 0) return;
    ZOLM_PCSC_ASSERT(answer->Length() <= UINT32_MAX);
    *response = static_cast<uint8_t *>(NewBlock(answer->Data(), answer->Length()));
    *responseLength = static_cast<uint32_t>(answer->Length());
}

void CloseReader(ReaderHandle *handle) {
    RequireArgument(handle, "handle");
    std::unique_ptr<ReaderHandle> record(handle);
    // On a failed disconnect the record's destructor still releases the context and frees it.
    LONG rv = record->card.Release();
    if (rv != SCARD_S_SUCCESS) ThrowCallFailure("SCardDisconnect", rv);
    rv = record->context.Release();
    if (rv != SCARD_S_SUCCESS) ThrowCallFailure("SCardReleaseContext", rv);
}

}  // namespace zolm::pcsc
