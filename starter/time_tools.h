// timeToolsU: the server's "Date" header read as a local date and time, and the local clock.
#pragma once

#include <chrono>
#include <string_view>

namespace zolm::starter {

// A wall-clock time in the system's current time zone.
using LocalTime = std::chrono::local_time<std::chrono::milliseconds>;

// Reads the fixed-width RFC 1123 form only ("Sun, 06 Nov 1994 08:49:37 GMT") and converts it from UTC
// to local time. Raises StarterError: "unexpected timestamp format: %s", "unexpected timestamp month:
// %s", "invalid timestamp year|day|hour|minute|second: %s", "timestamp out of range: %s",
// "invalid timestamp day of week", or the system error text of "SystemTimeToTzSpecificLocalTime".
LocalTime ParseHttpDate(std::string_view text);

// A UTC time as local wall-clock time, by the system's current time-zone rules. Milliseconds, so any
// year of a four-digit date fits.
LocalTime ToLocalTime(std::chrono::sys_time<std::chrono::milliseconds> time);

}  // namespace zolm::starter
