#include "starter/headless_probe_user.h"

#include "starter/text_format.h"

namespace zolm::starter {
namespace {

constexpr char kInternetCheckCaption[] = "Проверка доступа в Интернет";
constexpr char kInternetSettingsCaption[] = "Настройка доступа в Интернет";
constexpr char kConfirmationCaption[] = "Подтвердите выбор";
constexpr char kInternetErrorFormat[] =
    "Приложению \"%s\" для нормального функционирования необходим доступ в Интернет, однако при пробном "
    "обращении к серверу %s произошла ошибка:\r\n\r\n%s\r\n\r\nОдна из возможных причин - неправильная "
    "настройка HTTP прокси-сервера, через который Вы выходите в Интернет, пожалуйста, убедитесь, что "
    "настройки прокси-сервера соответствуют действительности и повторите проверку.";
constexpr char kProxyPasswordFormat[] =
    "Приложению \"%s\" требуется доступ в Интернет, однако Ваш HTTP прокси-сервер требует указания имени "
    "пользователя и пароля.";

std::string UnixLineBreaks(const std::string &text) {
    std::string lines;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        lines += text[i];
    }
    return lines;
}

}  // namespace

void HeadlessProbeUser::Print(const char *caption, const std::string &text, const char *answer) {
    out_ << caption << '\n' << UnixLineBreaks(text) << '\n' << "Ответ: " << answer << "\n\n";
    out_.flush();
}

ProbeUser::ErrorChoice HeadlessProbeUser::InternetError(const std::string &errorMessage) {
    Print(
        kInternetCheckCaption,
        FillFormat(kInternetErrorFormat, {readSetting_("application.title"), readSetting_("probe.url"), errorMessage}),
        "Прервать");
    return ErrorChoice::Abort;
}

std::optional<ProbeUser::Credentials> HeadlessProbeUser::ProxyPassword() {
    Print(kInternetSettingsCaption, FillFormat(kProxyPasswordFormat, {readSetting_("application.title")}), "Отмена");
    return std::nullopt;
}

bool HeadlessProbeUser::AskConfirmation(const std::string &question) {
    Print(kConfirmationCaption, question, "Нет");
    return false;
}

}  // namespace zolm::starter
