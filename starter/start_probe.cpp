// The probe's attempts, its dialogs and the clock check.
#include "starter/start_probe.h"

#include <charconv>
#include <cmath>
#include <exception>

#include "starter/https.h"
#include "starter/split_by.h"
#include "starter/starter_error.h"
#include "starter/startup.h"
#include "starter/text_format.h"
#include "starter/time_tools.h"

namespace zolm::starter {
namespace {

constexpr uint32_t kProbeTimeoutMs = 10000;

constexpr char kProxyRefused[] = "HTTP прокси-сервер запрещает доступ в Интернет (код возврата 407)";
constexpr char kStatusFormat[] = "проверочный HTTP запрос вернул код возврата %d";
constexpr char kUnexpectedAnswer[] = "проверочный HTTP запрос вернул неожиданный ответ";
constexpr char kClockQuestion[] =
    "Часы на Вашем компьютере расходятся с часами на сервере на %d ч %d мин. Для нормального "
    "функционирования приложения \"%s\" требуется правильно установить время на Вашем компьютере. Вы все "
    "равно хотите продолжить запуск приложения ?";
constexpr char kIgnoreQuestion[] =
    "Приложение \"%s\" не будет нормально работать без доступа в Интернет. Вы все равно хотите продолжить "
    "его запуск ?";

// The value of the first "Date" header line, trimmed; empty when there is none.
std::string DateHeader(const std::string &headers) {
    SplitResult from = SplitBy("\r\n" + headers, "\r\nDate:", false);
    if (!from.found) return {};
    return TrimBlanks(SplitBy(from.after, "\r\n", false).before);
}

// "probe.timedelta" as a decimal integer, 0 when it is not one.
long long AllowedSeconds(const std::string &text) {
    long long value = 0;
    auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return (error == std::errc() && end == text.data() + text.size()) ? value : 0;
}

// True when the clocks agree well enough or the user goes on anyway.
bool ClockAccepted(const std::string &headers, ProbeUser &user, const SettingReader &readSetting, const Clock &now) {
    LocalTime local = ToLocalTime(std::chrono::floor<std::chrono::milliseconds>(now()));
    LocalTime server = local;
    try {
        server = ParseHttpDate(DateHeader(headers));
    } catch (const std::exception &) {
        // An unreadable date turns the check off for this attempt.
    }
    long long allowed = AllowedSeconds(readSetting("probe.timedelta"));
    if (allowed <= 0) return true;
    double days = std::abs(std::chrono::duration<double>(local - server).count()) / 86400.0;
    if (!(days > static_cast<double>(allowed) / 86400.0)) return true;
    ClockDifference difference = SplitClockDifference(days);
    return user.AskConfirmation(FillFormat(
        kClockQuestion,
        {std::to_string(difference.hours), std::to_string(difference.minutes), readSetting("application.title")}));
}

}  // namespace

std::string ProxyText(const std::string &type, const std::string &host, const std::string &port) {
    if (type == "INTERNET_OPEN_TYPE_DIRECT" || type == "INTERNET_OPEN_TYPE_PRECONFIG") return type;
    if (type == "INTERNET_OPEN_TYPE_PROXY") return host + ":" + port;
    return {};
}

ClockDifference SplitClockDifference(double days) {
    ClockDifference difference;
    double hours = std::trunc(days * 24.0);
    // nearbyint rounds halves to even in the default rounding mode.
    double minutes = std::nearbyint((days - hours / 24.0) * 1440.0);
    if (minutes == 60.0) {
        hours += 1.0;
        minutes = 0.0;
    }
    difference.hours = static_cast<int>(hours);
    difference.minutes = static_cast<int>(minutes);
    return difference;
}

bool ProbeConnection(StartupState &state, ProbeUser &user, const SettingReader &readSetting, const Clock &now) {
    // Proxy credentials from the password dialog: kept for this run only.
    std::string username, password;
    for (;;) {
        bool splashShown = true;  // the attempt flag: the splash still has to step aside for the dialog
        std::string error;
        try {
            std::string proxy =
                ProxyText(readSetting("proxy.type"), readSetting("proxy.host"), readSetting("proxy.port"));
            HttpsSession session(proxy, username, password);
            HttpsResponse response = HttpsRequest("GET", readSetting("probe.url"), "", nullptr, 0, kProbeTimeoutMs);
            if (response.status == 407) {
                response.body.Release();
                user.HideSplash();
                std::optional<ProbeUser::Credentials> entered = user.ProxyPassword();
                if (!entered) {
                    username.clear();
                    password.clear();
                    splashShown = false;
                    throw StarterError(kProxyRefused);
                }
                username = std::move(entered->username);
                password = std::move(entered->password);
                user.ShowSplash();
                continue;  // the session closes the transport; straight to the next attempt
            }
            if (response.status != 200) {
                username.clear();
                password.clear();
                throw StarterError(FillFormat(kStatusFormat, {std::to_string(response.status)}));
            }
            if (response.body.Text() != readSetting("probe.content")) throw StarterError(kUnexpectedAnswer);
            response.body.Release();
            if (!ClockAccepted(response.headers, user, readSetting, now)) return false;
            state.ProxyServer = proxy;
            state.ProxyUsername = username;
            state.ProxyPassword = password;
            state.InternetAvailable = true;
            return true;
        } catch (const std::exception &e) {
            error = e.what();
        }

        if (splashShown) user.HideSplash();
        switch (user.InternetError(error)) {
            case ProbeUser::ErrorChoice::Retry:
                user.ShowSplash();
                continue;
            case ProbeUser::ErrorChoice::Ignore: {
                bool goOn = user.AskConfirmation(FillFormat(kIgnoreQuestion, {readSetting("application.title")}));
                user.ShowSplash();
                return goOn;
            }
            case ProbeUser::ErrorChoice::Abort:
            default:
                user.DismissSplash();
                return false;
        }
    }
}

bool ConnectionProbe::ProbeConnection(StartupState &state) {
    return zolm::starter::ProbeConnection(state, user_, readSetting_, now_);
}

}  // namespace zolm::starter
