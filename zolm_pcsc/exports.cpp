// The five exports of zolm_pcsc.so: the reader work on pcsc-lite, wrapped in the result convention.
#include "zolm/pcsc.h"

#include "common/result.h"
#include "zolm_pcsc/pcsc_api.h"
#include "zolm_pcsc/reader.h"

using zolm::ResultOf;
namespace pcsc = zolm::pcsc;

char *ZOLM_STDCALL pcsc_ListReaders(char **list) {
    return ResultOf([&] { pcsc::ListReaders(pcsc::SystemPcsc(), list); });
}

char *ZOLM_STDCALL pcsc_OpenReader(const char *readerName, ReaderHandle **handle, uint8_t *atr,
                                   uint32_t *atrLength) {
    return ResultOf([&] { pcsc::OpenReader(pcsc::SystemPcsc(), readerName, handle, atr, atrLength); });
}

char *ZOLM_STDCALL pcsc_SendCommand(ReaderHandle *handle, const uint8_t *command, uint32_t commandLength,
                                    int32_t apduCase, uint8_t **response, uint32_t *responseLength) {
    return ResultOf([&] { pcsc::SendCommand(handle, command, commandLength, apduCase, response, responseLength); });
}

char *ZOLM_STDCALL pcsc_CloseReader(ReaderHandle *handle) {
    return ResultOf([&] { pcsc::CloseReader(handle); });
}

void ZOLM_STDCALL pcsc_ReleaseMemory(void *block, uint32_t length) { zolm::ReleaseBlock(block, length); }
