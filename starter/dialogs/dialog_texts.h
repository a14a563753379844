// The dialogs' own texts, shared by the Qt forms and the headless adapter so both say the same.
#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

namespace zolm::starter::texts {

// Message dialogs.
inline constexpr char kConfirmationCaption[] = "Подтвердите выбор";
inline constexpr char kErrorCaption[] = "Ошибка выполнения";
inline constexpr char kYes[] = "Да";
inline constexpr char kNo[] = "Нет";
inline constexpr char kCancel[] = "Отмена";
inline constexpr char kClose[] = "Закрыть";
inline constexpr char kOk[] = "ОК";

// Proxy dialogs.
inline constexpr char kInternetCheckCaption[] = "Проверка доступа в Интернет";
inline constexpr char kInternetSettingsCaption[] = "Настройка доступа в Интернет";
inline constexpr char kRetry[] = "Повторить";
inline constexpr char kAbort[] = "Прервать";
inline constexpr char kIgnore[] = "Игнорировать";
inline constexpr char kProxyButton[] = "Настроить...";
inline constexpr char kInternetErrorFormat[] =
    "Приложению \"%s\" для нормального функционирования необходим доступ в Интернет, однако при пробном "
    "обращении к серверу %s произошла ошибка:\r\n\r\n%s\r\n\r\nОдна из возможных причин - неправильная "
    "настройка HTTP прокси-сервера, через который Вы выходите в Интернет, пожалуйста, убедитесь, что "
    "настройки прокси-сервера соответствуют действительности и повторите проверку.";
inline constexpr char kProxyGroup[] = " Настройка HTTP прокси-сервера ";
inline constexpr char kDirect[] = " Прямой доступ в Интернет";
inline constexpr char kPreconfig[] = " Прокси-сервер браузера Internet Explorer";
inline constexpr char kExplicitProxy[] = " Указанный прокси-сервер";
inline constexpr char kProxyHost[] = "Имя или IP адрес";
inline constexpr char kProxyPort[] = "Порт";
inline constexpr char kPasswordGroup[] = " Пароль для доступа к HTTP прокси-серверу ";
inline constexpr char kProxyPasswordFormat[] =
    "Приложению \"%s\" требуется доступ в Интернет, однако Ваш HTTP прокси-сервер требует указания имени "
    "пользователя и пароля.";
inline constexpr char kUsername[] = "Имя пользователя";
inline constexpr char kPassword[] = "Пароль";

// Proxy keys and their type values.
inline constexpr char kProxyTypeKey[] = "proxy.type";
inline constexpr char kProxyHostKey[] = "proxy.host";
inline constexpr char kProxyPortKey[] = "proxy.port";
inline constexpr char kTypeDirect[] = "INTERNET_OPEN_TYPE_DIRECT";
inline constexpr char kTypePreconfig[] = "INTERNET_OPEN_TYPE_PRECONFIG";
inline constexpr char kTypeProxy[] = "INTERNET_OPEN_TYPE_PROXY";

// Headless adapter: the line that follows a question's text.
inline constexpr char kAnswerPrefix[] = "Ответ: ";

// Fills each "%s" of format, in order, with the next argument ("%%" gives "%"). Missing arguments
// leave "%s" empty; arguments are inserted verbatim and never read as formats.
std::string Format(std::string_view format, std::initializer_list<std::string_view> args);

// CR LF pairs as single line feeds, the line break of this platform's widgets and terminals.
std::string UnixLineBreaks(std::string_view text);

}  // namespace zolm::starter::texts
