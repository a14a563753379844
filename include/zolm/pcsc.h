/*
 * PC/SC library zolm_pcsc.so: list smart-card readers, connect to a card, exchange APDUs (with the
 * T=0 transport rules applied) and disconnect.
 *
 * Result convention. Every function returning char* returns NULL on success, or an error text: a
 * NUL-terminated English text in a block of the library's heap, given back with
 * pcsc_ReleaseMemory(text, strlen(text) + 1). Output blocks (the reader list, a response) are
 * released the same way with their length. pcsc_ReleaseMemory zeroes that many bytes before freeing.
 * A failed PC/SC call reads "<call>() failed: <text of the result code>", for example
 * "SCardConnect() failed: The specified reader name is not recognized"; a code without a text of
 * its own reads "Smart card error 0x%08X".
 *
 * The library keeps no global state and takes no locks: each open reader has its own PC/SC context,
 * and one handle must not be used from two threads at once.
 */
#ifndef ZOLM_PCSC_H
#define ZOLM_PCSC_H

#include "zolm/abi.h"

#ifdef __cplusplus
extern "C" {
#endif

/* An open connection to the card in one reader; opaque to the caller. A NULL where a function needs
 * a pointer (handle, buffer, output) gives the error text "invalid argument: <name> is null". */
typedef struct ReaderHandle ReaderHandle;

/*
 * Lists the readers. On success *list receives NULL when there is no reader (or no PC/SC service
 * running: that is no failure), otherwise a block holding each reader name followed by a NUL and one
 * more NUL after the last name. The caller releases it with the length up to and including the
 * final NUL.
 */
typedef char *(ZOLM_STDCALL pcsc_ListReaders_fn)(char **list);

/*
 * Connects to the card in the named reader, shared with other applications, with T=0 or T=1 as the
 * card and reader agree. *atrLength holds the size of the atr buffer on entry; on success it receives
 * the ATR's length, atr the ATR, and *handle a new handle for pcsc_SendCommand and pcsc_CloseReader.
 * On failure nothing is stored through handle or atrLength and nothing stays open. An ATR larger than
 * the buffer fails with "SCardStatus() failed: The data buffer for returned data is too small for the
 * returned data".
 */
typedef char *(ZOLM_STDCALL pcsc_OpenReader_fn)(const char *readerName, ReaderHandle **handle, uint8_t *atr,
                                               uint32_t *atrLength);

/*
 * Sends one command APDU and returns the card's complete response: its data followed by SW1 SW2.
 * apduCase is the ISO/IEC 7816-4 case (1 to 4) of the command. Under T=0 the library adapts the
 * command to the protocol (case 1 of 4 bytes gets P3 = 00; cases 2 and 4 lose Le), repeats it once
 * with the length the card asks for on SW1 = 6C, and collects the data of SW1 = 61 with GET RESPONSE
 * into one response that keeps only the last status word. Under T=1 the command and response pass
 * unchanged. Each exchange receives at most 4096 bytes; a GET RESPONSE chain is cut off with an error
 * after 65536 data bytes or 1024 rounds, so a card that never ends it cannot hang the caller.
 * Any status word is success: it is handed over inside the response. Failures of the exchange read
 * "SCardTransmit() failed: ..." (for example when the card was removed). *response and *responseLength
 * are set to NULL and 0 first, so they hold these after any failure; on success *response is a new
 * block released with *responseLength.
 */
typedef char *(ZOLM_STDCALL pcsc_SendCommand_fn)(ReaderHandle *handle, const uint8_t *command,
                                                uint32_t commandLength, int32_t apduCase, uint8_t **response,
                                                uint32_t *responseLength);

/*
 * Disconnects, leaving the card in place unreset, releases the handle's context and frees the handle.
 * The handle is invalid afterwards whatever the result.
 */
typedef char *(ZOLM_STDCALL pcsc_CloseReader_fn)(ReaderHandle *handle);

/* Overwrites the first length bytes of block with zeros and frees it. NULL is accepted. */
typedef void(ZOLM_STDCALL pcsc_ReleaseMemory_fn)(void *block, uint32_t length);

ZOLM_EXPORT pcsc_ListReaders_fn pcsc_ListReaders;
ZOLM_EXPORT pcsc_OpenReader_fn pcsc_OpenReader;
ZOLM_EXPORT pcsc_SendCommand_fn pcsc_SendCommand;
ZOLM_EXPORT pcsc_CloseReader_fn pcsc_CloseReader;
ZOLM_EXPORT pcsc_ReleaseMemory_fn pcsc_ReleaseMemory;

#ifdef __cplusplus
}
#endif

#endif
