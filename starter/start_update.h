// start_updateU, the update check: asks the update server (or a local update description beside the
// installed version) for a newer version, asks the user, downloads it and hands it to InstallVersion.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "starter/install_version.h"
#include "starter/stages.h"

namespace zolm::starter {

// The update check's texts, used exactly as they stand.
namespace update_texts {
inline constexpr char kMarker[] = "Dovetane starter: %s update in progress";
inline constexpr char kLocalWrapper[] = "<?xml version=\"1.0\" encoding=\"windows-1251\"?><response>%s</response>";
inline constexpr char kLocalParseError[] = "не удалось разобрать локальный файл \"%s\": %s";
inline constexpr char kQuestion[] =
    "На сервере доступна новая версия приложения \"%s\", скачать обновление (%dK) и установить новую версию ?";
inline constexpr char kSuccessCaption[] = "Обновление версии приложения";
inline constexpr char kSuccess[] = "Новая версия приложения \"%s\" успешно установлена.";
inline constexpr char kFailure[] = "При обновлении приложения \"%s\" произошла ошибка: %s";
// The implementer's texts for answers that lack what the check reads.
inline constexpr char kNoSize[] = "the update server's answer has no size (?!)";
inline constexpr char kBadSize[] = "invalid update size \"%s\" (?!)";
inline constexpr char kNoVersion[] = "the patch answer has no version (?!)";
}  // namespace update_texts

inline constexpr char kPatchContentTemplate[] = "<product>{0}</product><version>{1}</version>";
inline constexpr uint32_t kGetPatchInfoTimeoutMs = 10000;
inline constexpr uint32_t kGetPatchTimeoutMs = 600000;
inline constexpr char kFullBaseVersion[] = "00000000";

// What the update check needs of the user: the three message dialogs with their splash handling.
class UpdateUser {
public:
    virtual ~UpdateUser() = default;
    // The question dialog; true only for Yes.
    virtual bool AskConfirmation(const std::string &question) = 0;
    // The error dialog; the splash comes back afterwards.
    virtual void ShowError(const std::string &message) = 0;
    virtual void ShowInformation(const std::string &caption, const std::string &message) = 0;
};

struct UpdateServices {
    std::function<std::string(std::string_view key)> readSetting;
    std::function<std::string(std::string_view version)> versionDirectory;  // with trailing "/"
    // InstallVersion of the patch installer; tests may record instead.
    std::function<void(const std::string &current, const std::string &next, const PatchDocument &answer, bool full)>
        install = [](const std::string &c, const std::string &n, const PatchDocument &a, bool f) {
            InstallVersion(c, n, a, f);
        };
};

// Ordinal comparison of version names: byte by byte, a proper prefix being smaller.
bool VersionIsNewer(std::string_view offered, std::string_view current);

// The announced size's text as bytes: decimal digits only (at least one), within 64 bits; else empty.
std::optional<int64_t> ParseUpdateSize(std::string_view text);

// The local update description of a version: its folder without the trailing "/" followed by ".xml".
std::string LocalDescriptionPath(const std::string &versionDirectory);

// The update check as a stage. Never lets an error escape; reports errors to the user unless
// "versions.silent" is "1".
class UpdateChecker : public UpdateStage {
public:
    UpdateChecker(UpdateUser &user, UpdateServices services) : user_(user), services_(std::move(services)) {}
    void CheckForUpdate(bool internetAvailable, const std::string &proxyServer, const std::string &proxyUsername,
                        const std::string &proxyPassword) override;

private:
    UpdateUser &user_;
    UpdateServices services_;
};

}  // namespace zolm::starter
