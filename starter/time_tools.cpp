// HTTP dates and local time.
#include "starter/time_tools.h"

#include <array>
#include <cerrno>
#include <ctime>
#include <string>

#include "starter/last_error.h"
#include "starter/starter_error.h"

namespace zolm::starter {
namespace {

constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr std::array<std::string_view, 7> kWeekdays = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

// Characters from..to (counted from 1) as a decimal integer.
int Field(std::string_view text, size_t from, size_t to, const char *what) {
    std::string_view part = text.substr(from - 1, to - from + 1);
    int value = 0;
    for (char c : part) {
        if (c < '0' || c > '9') throw StarterError(std::string("invalid timestamp ") + what + ": " + std::string(part));
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

LocalTime ToLocalTime(std::chrono::sys_time<std::chrono::milliseconds> time) {
    using namespace std::chrono;
    time_t seconds = static_cast<time_t>(floor<std::chrono::seconds>(time).time_since_epoch().count());
    std::tm local{};
    errno = 0;
    if (localtime_r(&seconds, &local) == nullptr) RaiseLastError("SystemTimeToTzSpecificLocalTime", errno);
    auto day = local_days(year(local.tm_year + 1900) / month(static_cast<unsigned>(local.tm_mon + 1)) /
                          static_cast<unsigned>(local.tm_mday));
    return LocalTime(day.time_since_epoch() + hours(local.tm_hour) + minutes(local.tm_min) +
                     std::chrono::seconds(local.tm_sec) + (time - floor<std::chrono::seconds>(time)));
}

LocalTime ParseHttpDate(std::string_view text) {
    using namespace std::chrono;
    if (text.size() != 29 || text.substr(25) != " GMT")
        throw StarterError("unexpected timestamp format: " + std::string(text));
    std::string_view monthName = text.substr(8, 3);
    unsigned monthNumber = 0;
    while (monthNumber < kMonths.size() && kMonths[monthNumber] != monthName) ++monthNumber;
    if (monthNumber == kMonths.size()) throw StarterError("unexpected timestamp month: " + std::string(monthName));
    int yearNumber = Field(text, 13, 16, "year");
    int dayNumber = Field(text, 6, 7, "day");
    int hourNumber = Field(text, 18, 19, "hour");
    int minuteNumber = Field(text, 21, 22, "minute");
    int secondNumber = Field(text, 24, 25, "second");

    year_month_day date{year(yearNumber), month(monthNumber + 1), day(static_cast<unsigned>(dayNumber))};
    if (!date.ok() || yearNumber < 1 || hourNumber > 23 || minuteNumber > 59 || secondNumber > 59)
        throw StarterError("timestamp out of range: " + std::string(text));
    weekday weekdayOfDate{sys_days(date)};
    if (text.substr(0, 3) != kWeekdays[weekdayOfDate.c_encoding()]) throw StarterError("invalid timestamp day of week");
    sys_seconds utc = sys_days(date) + hours(hourNumber) + minutes(minuteNumber) + seconds(secondNumber);
    return ToLocalTime(utc);
}

}  // namespace zolm::starter
