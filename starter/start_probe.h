// start_probeU: the connectivity probe and clock check run before anything else talks to the server.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "starter/probe_user.h"
#include "starter/stages.h"

namespace zolm::starter {

struct StartupState;

using SettingReader = std::function<std::string(std::string_view key)>;
using Clock = std::function<std::chrono::system_clock::time_point()>;

// The proxy text handed to https_Start for a "proxy.type" ("proxy.host" and "proxy.port" joined by
// ":" for "INTERNET_OPEN_TYPE_PROXY", empty for an unknown or empty type).
std::string ProxyText(const std::string &type, const std::string &host, const std::string &port);

// The clock question's hours and minutes for a difference of `days` (fractional): whole hours, then
// the rest in minutes rounded half to even, 60 minutes carried into the hours.
struct ClockDifference {
    int hours = 0;
    int minutes = 0;
};
ClockDifference SplitClockDifference(double days);

// Fetches "probe.url" through the transport, checks the body and the server's clock, and loops through
// the dialogs until an attempt succeeds or the user decides. Fills ProxyServer, ProxyUsername,
// ProxyPassword and InternetAvailable of state (only on success); returns false when the run is to
// end. Never raises: every failure of an attempt goes to the connection error dialog. Settings are
// read afresh at every attempt; now gives the local clock.
bool ProbeConnection(StartupState &state, ProbeUser &user, const SettingReader &readSetting, const Clock &now);

// The probe as a stage of the start-up sequence.
class ConnectionProbe : public ProbeStage {
public:
    ConnectionProbe(ProbeUser &user, SettingReader readSetting, Clock now = std::chrono::system_clock::now)
        : user_(user), readSetting_(std::move(readSetting)), now_(std::move(now)) {}
    bool ProbeConnection(StartupState &state) override;

private:
    ProbeUser &user_;
    SettingReader readSetting_;
    Clock now_;
};

}  // namespace zolm::starter
