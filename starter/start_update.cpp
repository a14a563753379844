// CheckForUpdate: the update marker, the local description or the two server methods, the user's
// consent, and the hand-over to the patch installer; every failure ends at one error handler.
#include "starter/start_update.h"

#include <sys/stat.h>

#include <exception>
#include <memory>

#include "common/secure_zero.h"
#include "platform/named_objects.h"
#include "starter/dovetane_rpc.h"
#include "starter/https.h"
#include "starter/starter_error.h"
#include "starter/temp_file.h"
#include "starter/text_format.h"
#include "starter/xml_document.h"

namespace zolm::starter {

bool VersionIsNewer(std::string_view offered, std::string_view current) {
    // std::char_traits<char> compares as unsigned char, like memcmp.
    return offered.compare(current) > 0;
}

std::optional<int64_t> ParseUpdateSize(std::string_view text) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    if (text.empty()) return std::nullopt;
    int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        int digit = c - '0';
        if (value > (INT64_MAX - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::string LocalDescriptionPath(const std::string &versionDirectory) {
    std::string folder = versionDirectory;
    if (!folder.empty() && folder.back() == '/') folder.pop_back();
    return FillFormat("%s.xml", {folder});
}

namespace {

namespace texts = update_texts;

struct UpdateSettings {
    std::string title, url, product, current;
    bool silent = false;
};

// The local description wrapped into a patch answer and parsed; the wrapped copy is wiped.
PatchDocument ReadLocalDescription(const std::string &path) {
    SecureBytes bytes = ReadWholeFile(path);
    std::string_view wrapper(texts::kLocalWrapper);
    size_t hole = wrapper.find("%s");
    std::string document;
    document.reserve(wrapper.size() + bytes.size());
    document.append(wrapper.substr(0, hole));
    document.append(reinterpret_cast<const char *>(bytes.data()), bytes.size());
    document.append(wrapper.substr(hole + 2));
    bytes.Wipe();
    std::string reason;
    XmlDocument parsed = ParseXmlBytes(document.data(), document.size(), reason);
    zolm::SecureZero(document.data(), document.size());
    if (!parsed) throw StarterError(FillFormat(texts::kLocalParseError, {path, reason}));
    return PatchDocument::Adopt(std::move(parsed));
}

}  // namespace

void UpdateChecker::CheckForUpdate(bool internetAvailable, const std::string &proxyServer,
                                   const std::string &proxyUsername, const std::string &proxyPassword) {
    try {
        UpdateSettings settings;
        settings.title = services_.readSetting("application.title");
        settings.url = services_.readSetting("versions.url");
        settings.product = services_.readSetting("versions.product");
        settings.current = services_.readSetting("versions.current");
        settings.silent = services_.readSetting("versions.silent") == "1";

        // Another starter holding the marker is updating this product: leave it to that one.
        std::optional<platform::NamedLock> marker;
        try {
            marker = platform::TryLockNamed(FillFormat(texts::kMarker, {settings.product}));
        } catch (const std::exception &) {
            return;
        }
        if (!marker) return;

        try {
            std::optional<PatchDocument> answer;
            bool full = false;
            std::string localPath = LocalDescriptionPath(services_.versionDirectory(settings.current));
            struct stat info {};
            if (::stat(localPath.c_str(), &info) == 0) {
                // The local description takes the server's place; the file stays.
                answer = ReadLocalDescription(localPath);
            } else {
                if (!internetAvailable) return;
                std::optional<HttpsSession> session;
                session.emplace(proxyServer, proxyUsername, proxyPassword);
                XmlDocument patchInfo;
                try {
                    patchInfo = XmlRpcCall(settings.url, rpc_methods::kGetPatchInfo, kPatchContentTemplate,
                                           kGetPatchInfoTimeoutMs, {settings.product, settings.current});
                } catch (const TXmlRpcError &) {
                    throw;  // the session closes on the way to the handler
                } catch (const std::exception &) {
                    return;  // the server is down or talks nonsense: the installed version starts
                }
                full = patchInfo.SelectSingleNode("/response/full").has_value();
                auto sizeNode = patchInfo.SelectSingleNode(full ? "/response/full/size" : "/response/patch/size");
                if (!sizeNode) throw StarterError(texts::kNoSize);
                std::string sizeText = sizeNode->Text();
                std::optional<int64_t> size = ParseUpdateSize(sizeText);
                if (!size) throw StarterError(FillFormat(texts::kBadSize, {sizeText}));
                patchInfo.Reset();
                if (*size == 0) return;
                if (!settings.silent && !user_.AskConfirmation(FillFormat(
                                            texts::kQuestion, {settings.title, std::to_string(*size / 1024)})))
                    return;
                std::string base = full ? std::string(kFullBaseVersion) : settings.current;
                XmlDocument patch;
                try {
                    patch = XmlRpcCall(settings.url, rpc_methods::kGetPatch, kPatchContentTemplate, kGetPatchTimeoutMs,
                                        {settings.product, base});
                } catch (...) {
                    session.reset();
                    throw;
                }
                session.reset();
                answer = PatchDocument::Adopt(std::move(patch));
            }

            std::optional<std::string> next = answer->SelectText("/response/patch/@version");
            if (!next) throw StarterError(texts::kNoVersion);
            if (VersionIsNewer(*next, settings.current)) services_.install(settings.current, *next, *answer, full);
            answer.reset();
            if (!settings.silent)
                user_.ShowInformation(texts::kSuccessCaption, FillFormat(texts::kSuccess, {settings.title}));
        } catch (const std::exception &e) {
            if (!settings.silent) user_.ShowError(FillFormat(texts::kFailure, {settings.title, e.what()}));
        }
    } catch (...) {
        // Nothing escapes: the start-up sequence goes on to the launch.
    }
}

}  // namespace zolm::starter
