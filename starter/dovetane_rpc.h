// DovetaneRPC: the XML-RPC client of the update server. A call sends one base64 string parameter
// holding an inner request document and reads the inner answer document back the same way, checking
// that it answers the request sent.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "starter/starter_error.h"
#include "starter/xml_document.h"

namespace zolm::starter {

// The server's methods. The starter calls the first two.
namespace rpc_methods {
inline constexpr char kGetPatchInfo[] = "Versions.GetPatchInfo";
inline constexpr char kGetPatch[] = "Versions.GetPatch";
inline constexpr char kGetZolmConfig[] = "Versions.GetZolmConfig";
inline constexpr const char *kVendrel[] = {"Vendrel.GetCRL",
                                           "Vendrel.GetRequestContent",
                                           "Vendrel.PrintRequest",
                                           "Vendrel.GetPublicKeyInfo",
                                           "Vendrel.SubmitResponse",
                                           "Vendrel.AbortPolling",
                                           "Vendrel.PollRequest",
                                           "Vendrel.KeepPolling",
                                           "Vendrel.GetUserByCertificate",
                                           "Vendrel.GetPublicKeyUserID",
                                           "Vendrel.GetCertificate",
                                           "Vendrel.GetCSRData",
                                           "Vendrel.SubmitPublicKeyRequest",
                                           "Vendrel.SubmitRequest",
                                           "Vendrel.ConfirmUserID",
                                           "Vendrel.SubmitRequestWithSignature",
                                           "Vendrel.SubmitRequestWithCMC",
                                           "Vendrel.GetKeyRequestState",
                                           "Vendrel.GetRequestCertificate",
                                           "Vendrel.GetExtRequestContent",
                                           "Vendrel.GetCA",
                                           "Vendrel.GetCryptoProviders"};
}  // namespace rpc_methods

// Errors reported by the server's application layer ("errors/error" of the inner answer). The message
// is the first error's text, cut to 512 characters plus "..." when longer; the texts are whole.
class TXmlRpcError : public StarterError {
public:
    explicit TXmlRpcError(std::vector<std::string> texts);
    int32_t ErrorCount() const { return static_cast<int32_t>(texts_.size()); }
    const std::vector<std::string> &ErrorTexts() const { return texts_; }

private:
    std::vector<std::string> texts_;
};

// An argument of the content template: texts (XML-escaped), integers (decimal), booleans ("false",
// "true") and floating point numbers (fixed, 4 decimals).
using XmlRpcArgument = std::variant<std::string, int32_t, int64_t, bool, double>;

// "&", "<", ">", the double quote and the apostrophe as entities.
std::string XmlEscape(std::string_view text);

// Replaces "{0}", "{1}", ... by the arguments' texts in one pass: an argument's text is inserted as it
// is and never searched for further placeholders. A placeholder without an argument stays.
std::string FillContentTemplate(std::string_view contentTemplate, const std::vector<XmlRpcArgument> &arguments);

// A new GUID in upper case without braces (36 characters).
std::string NewRequestId();

// The inner request document (UTF-8) and the XML-RPC envelope carrying it.
std::string RequestDocument(std::string_view method, std::string_view requestId, std::string_view content);
std::string Envelope(std::string_view method, std::string_view base64Request);

// Inner documents that may reach this size are parsed on a thread of their own while the outer one
// is still being read.
inline constexpr size_t kThreadedInnerFrom = size_t{4} << 20;

// Reads an answer from its HTTP status on: status, Content-Type, outer document, fault, inner document
// and its checks. bodyDone is called once the body has been parsed (also on failure), after which the
// body is not read again. Raises StarterError with the unwrapped message, or TXmlRpcError.
// threadedFrom: see kThreadedInnerFrom (tests and fuzzing take the threaded way with small answers).
XmlDocument ReadXmlRpcAnswer(uint16_t status, std::string_view headers, std::string_view body,
                             const std::function<void()> &bodyDone, std::string_view method,
                             std::string_view requestId, size_t threadedFrom = kThreadedInnerFrom);

// One call over the open transport (https_Start first): POST of the envelope to url, the answer's
// inner document returned (the caller owns it). TXmlRpcError passes unchanged; every other failure
// becomes StarterError "XMLRPC вызов %s --> %s завершился с ошибкой: %s".
XmlDocument XmlRpcCall(std::string_view url, std::string_view method, std::string_view contentTemplate,
                       uint32_t timeoutMs, const std::vector<XmlRpcArgument> &arguments);

}  // namespace zolm::starter
