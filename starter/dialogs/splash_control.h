// What the dialogs need of the splash keeper: step aside before a dialog, come back or stay away after.
#pragma once

namespace zolm::starter {

class SplashControl {
public:
    virtual ~SplashControl() = default;
    // immediate: no wait for the splash's minimum visible time (end of run).
    virtual void HideSplash(bool immediate) = 0;
    virtual void ShowSplash() = 0;
    // Hiding and showing are no-ops for the rest of the run.
    virtual void DismissSplash() = 0;
};

// A splash control that does nothing (no splash in this run).
class NoSplash : public SplashControl {
public:
    void HideSplash(bool) override {}
    void ShowSplash() override {}
    void DismissSplash() override {}
};

}  // namespace zolm::starter
