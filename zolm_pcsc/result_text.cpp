// The result-code text table. Names are the published PC/SC and Windows names of the codes; the
// values are the 32-bit ones, which pcsc-lite's wider LONG carries unchanged.
#include "zolm_pcsc/result_text.h"

#include <cstdint>
#include <cstring>

#include "common/formatted_exception.h"

namespace zolm::pcsc {
namespace {

struct ResultEntry {
    uint32_t code;
    const char *text;
};

constexpr ResultEntry kResultTexts[] = {
    {0x00000000, "No error was encountered"},                                           // SCARD_S_SUCCESS
    {0x0000006D, "The client attempted a smart card operation in a remote session"},    // ERROR_BROKEN_PIPE
    {0x80100001, "An internal consistency check failed"},                               // SCARD_F_INTERNAL_ERROR
    {0x80100002, "The action was canceled by an SCardCancel request"},                  // SCARD_E_CANCELLED
    {0x80100003, "The supplied handle was not valid"},                                  // SCARD_E_INVALID_HANDLE
    {0x80100004, "One or more of the supplied parameters could not be properly interpreted"},  // SCARD_E_INVALID_PARAMETER
    {0x80100005, "Registry startup information is missing or not valid"},               // SCARD_E_INVALID_TARGET
    {0x80100006, "Not enough memory available to complete this command"},               // SCARD_E_NO_MEMORY
    {0x80100007, "An internal consistency timer has expired"},                          // SCARD_F_WAITED_TOO_LONG
    {0x80100008, "The data buffer for returned data is too small for the returned data"},  // SCARD_E_INSUFFICIENT_BUFFER
    {0x80100009, "The specified reader name is not recognized"},                        // SCARD_E_UNKNOWN_READER
    {0x8010000A, "The user-specified time-out value has expired"},                      // SCARD_E_TIMEOUT
    {0x8010000B, "The smart card cannot be accessed because of other outstanding connections"},  // SCARD_E_SHARING_VIOLATION
    {0x8010000C, "The operation requires a smart card, but no smart card is currently in the device"},  // SCARD_E_NO_SMARTCARD
    {0x8010000D, "The specified smart card name is not recognized"},                    // SCARD_E_UNKNOWN_CARD
    {0x8010000E, "The system could not dispose of the media in the requested manner"},  // SCARD_E_CANT_DISPOSE
    {0x8010000F, "The requested protocols are incompatible with the protocol currently in use with the card"},  // SCARD_E_PROTO_MISMATCH
    {0x80100010, "The reader or card is not ready to accept commands"},                 // SCARD_E_NOT_READY
    {0x80100011, "One or more of the supplied parameter values could not be properly interpreted"},  // SCARD_E_INVALID_VALUE
    {0x80100012, "The action was canceled by the system, presumably to log off or shut down"},  // SCARD_E_SYSTEM_CANCELLED
    {0x80100013, "An internal communications error has been detected"},                 // SCARD_F_COMM_ERROR
    {0x80100014, "An internal error has been detected, but the source is unknown"},     // SCARD_F_UNKNOWN_ERROR
    {0x80100015, "An ATR string obtained from the registry is not a valid ATR string"},  // SCARD_E_INVALID_ATR
    {0x80100016, "An attempt was made to end a nonexistent transaction"},               // SCARD_E_NOT_TRANSACTED
    {0x80100017, "The specified reader is not currently available for use"},            // SCARD_E_READER_UNAVAILABLE
    {0x80100018, "The operation has been aborted to allow the server application to exit"},  // SCARD_P_SHUTDOWN
    {0x80100019, "The PCI receive buffer was too small"},                               // SCARD_E_PCI_TOO_SMALL
    {0x8010001A, "The reader driver does not meet minimal requirements for support"},   // SCARD_E_READER_UNSUPPORTED
    {0x8010001B, "The reader driver did not produce a unique reader name"},             // SCARD_E_DUPLICATE_READER
    {0x8010001C, "The smart card does not meet minimal requirements for support"},      // SCARD_E_CARD_UNSUPPORTED
    {0x8010001D, "The smart card resource manager is not running"},                     // SCARD_E_NO_SERVICE
    {0x8010001E, "The smart card resource manager has shut down"},                      // SCARD_E_SERVICE_STOPPED
    {0x8010001F, "An unexpected card error has occurred"},                              // SCARD_E_UNEXPECTED
    {0x80100020, "No primary provider can be found for the smart card"},                // SCARD_E_ICC_INSTALLATION
    {0x80100021, "The requested order of object creation is not supported"},           // SCARD_E_ICC_CREATEORDER
    {0x80100022, "This smart card does not support the requested feature"},            // SCARD_E_UNSUPPORTED_FEATURE
    {0x80100023, "The specified directory does not exist in the smart card"},          // SCARD_E_DIR_NOT_FOUND
    {0x80100024, "The specified file does not exist in the smart card"},               // SCARD_E_FILE_NOT_FOUND
    {0x80100025, "The supplied path does not represent a smart card directory"},       // SCARD_E_NO_DIR
    {0x80100026, "The supplied path does not represent a smart card file"},            // SCARD_E_NO_FILE
    {0x80100027, "Access is denied to the file"},                                       // SCARD_E_NO_ACCESS
    {0x80100028, "An attempt was made to write more data than would fit in the target object"},  // SCARD_E_WRITE_TOO_MANY
    {0x80100029, "An error occurred in setting the smart card file object pointer"},   // SCARD_E_BAD_SEEK
    {0x8010002A, "The supplied PIN is incorrect"},                                      // SCARD_E_INVALID_CHV
    {0x8010002B, "An unrecognized error code was returned from a layered component"},  // SCARD_E_UNKNOWN_RES_MNG
    {0x8010002C, "The requested certificate does not exist"},                          // SCARD_E_NO_SUCH_CERTIFICATE
    {0x8010002D, "The requested certificate could not be obtained"},                   // SCARD_E_CERTIFICATE_UNAVAILABLE
    {0x8010002E, "No smart card reader is available"},                                  // SCARD_E_NO_READERS_AVAILABLE
    {0x8010002F, "A communications error with the smart card has been detected"},      // SCARD_E_COMM_DATA_LOST
    {0x80100065, "The reader cannot communicate with the card, due to ATR string configuration conflicts"},  // SCARD_W_UNSUPPORTED_CARD
    {0x80100066, "The smart card is not responding to a reset"},                       // SCARD_W_UNRESPONSIVE_CARD
    {0x80100067, "Power has been removed from the smart card, so that further communication is not possible"},  // SCARD_W_UNPOWERED_CARD
    {0x80100068, "The smart card has been reset, so any shared state information is not valid"},  // SCARD_W_RESET_CARD
    {0x80100069, "The smart card has been removed, so further communication is not possible"},  // SCARD_W_REMOVED_CARD
    {0x8010006A, "Access was denied because of a security violation"},                 // SCARD_W_SECURITY_VIOLATION
    {0x8010006B, "The card cannot be accessed because the wrong PIN was presented"},   // SCARD_W_WRONG_CHV
    {0x8010006C, "The card cannot be accessed because the maximum number of PIN entry attempts has been reached"},  // SCARD_W_CHV_BLOCKED
    {0x8010006D, "The end of the smart card file has been reached"},                   // SCARD_W_EOF
    {0x8010006E, "The action was canceled by the user"},                               // SCARD_W_CANCELLED_BY_USER
};

}  // namespace

std::string ResultText(LONG code) {
    // A code in 32-bit range (also one sign-extended from 32 bits) is looked up by its 32-bit value;
    // anything wider is shown whole rather than cut.
    if (code >= INT32_MIN && code <= static_cast<LONG>(UINT32_MAX)) {
        uint32_t value = static_cast<uint32_t>(code);
        for (const ResultEntry &entry : kResultTexts)
            if (entry.code == value) return entry.text;
        return FormatText("Smart card error 0x%08X", value);
    }
    return FormatText("Smart card error 0x%08lX", static_cast<unsigned long>(code));
}

void ThrowCallFailure(const char *call, LONG code) {
    throw formatted_exception("%s() failed: %s", call, ResultText(code).c_str());
}

void ThrowAssertion(const char *file, int line) {
    const char *slash = std::strrchr(file, '/');
    throw formatted_exception("assertion failed in %s:%d", slash != nullptr ? slash + 1 : file, line);
}

}  // namespace zolm::pcsc
