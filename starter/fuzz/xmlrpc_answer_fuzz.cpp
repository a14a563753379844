// Fuzz target for the XML-RPC answer from the HTTP body on: outer document, fault, base64, inner
// document and its checks, on one thread or two. Any body ends in a document or one of the answer's
// errors, never worse.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "starter/dovetane_rpc.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    using namespace zolm::starter;
    // The first byte chooses the way the inner document is read: on this thread or a second one.
    if (size == 0) return 0;
    bool threaded = (data[0] & 1) != 0;
    std::string_view body(reinterpret_cast<const char *>(data) + 1, size - 1);
    bool released = false;
    try {
        XmlDocument answer = ReadXmlRpcAnswer(
            200, "Content-Type: text/xml", body, [&] { released = true; }, "Versions.GetPatch",
            "0F0F0F0F-1234-5678-9ABC-DEF012345678", threaded ? 0 : kThreadedInnerFrom);
        if (!answer) std::abort();
        // What the update check reads next.
        if (auto version = answer.SelectSingleNode("/response/patch/@version")) (void)version->Text();
        for (const XmlNode &entry : answer.SelectNodes("/response/patch/*")) (void)entry.LocalName();
    } catch (const TXmlRpcError &e) {
        if (e.ErrorCount() < 1) std::abort();
    } catch (const StarterError &) {
    }
    if (!released) std::abort();
    return 0;
}
