// The start-up sequence with doubles of its stages: order, skin choice, the probe's refusal, and
// the clean-up as far as the sequence came when a step fails.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <stdexcept>

#include "starter/startup.h"

using namespace zolm::starter;

namespace {

// Every double writes what it was asked into one journal.
struct Journal {
    std::vector<std::string> calls;
    std::string failAt;  // the call that raises
    void Note(const std::string &call) {
        calls.push_back(call);
        if (call == failAt) throw std::runtime_error("failed: " + call);
    }
};

struct FakeSkin : SkinHolder {
    explicit FakeSkin(Journal &j) : journal(j) {}
    ~FakeSkin() override { journal.calls.push_back("skin destroyed"); }
    void DisableSkinning() override { journal.Note("skinning off"); }
    void SelectSkin(const std::string &name) override { journal.Note("skin " + name); }
    Journal &journal;
};

struct Fakes : SplashStage, DialogsStage, ProbeStage, UpdateStage, LaunchStage {
    Journal journal;
    bool probeResult = true;
    std::string StartSplash() override {
        journal.Note("start splash");
        return "0A1B2C3D-AAAA-BBBB-CCCC-0123456789AB";
    }
    void StopSplash() override { journal.Note("stop splash"); }
    void InitializeToolkit() override { journal.Note("toolkit"); }
    std::unique_ptr<SkinHolder> CreateSkinHolder() override {
        journal.Note("create skin");
        return std::make_unique<FakeSkin>(journal);
    }
    bool ProbeConnection(StartupState &state) override {
        journal.Note("probe");
        state.ProxyServer = "proxy:3128";
        state.ProxyUsername = "u";
        state.ProxyPassword = "p";
        state.InternetAvailable = true;
        return probeResult;
    }
    void CheckForUpdate(bool internet, const std::string &server, const std::string &user, const std::string &password) override {
        journal.Note("update " + std::to_string(internet) + " " + server + " " + user + " " + password);
    }
    void RunApplication(const std::string &server, const std::string &user, const std::string &password,
                        const std::string &guid) override {
        journal.Note("launch " + server + " " + user + " " + password + " " + guid);
    }
    StartupStages Stages() { return {this, this, this, this, this}; }
};

std::function<std::string(std::string_view)> Settings(std::map<std::string, std::string> values) {
    return [values](std::string_view key) {
        auto it = values.find(std::string(key));
        return it == values.end() ? std::string() : it->second;
    };
}

using Calls = std::vector<std::string>;

}  // namespace

TEST(StartupSequence, RunsEveryStageInOrderAndHandsTheValuesOn) {
    Fakes fakes;
    StartupState state;
    EXPECT_EQ(RunStartupSequence(fakes.Stages(), Settings({{"application.icon_set", "Opus"}}), false, &state), 0);
    EXPECT_EQ(fakes.journal.calls,
              (Calls{"toolkit", "start splash", "create skin", "skin Opus (internal)", "probe",
                     "update 1 proxy:3128 u p", "launch proxy:3128 u p 0A1B2C3D-AAAA-BBBB-CCCC-0123456789AB",
                     "skin destroyed", "stop splash"}));
    EXPECT_EQ(state.SplashGuid, "0A1B2C3D-AAAA-BBBB-CCCC-0123456789AB");
    EXPECT_EQ(state.SkinName, "Opus");
}

TEST(StartupSequence, SkinChoice) {
    struct Case {
        const char *name, *iconSet;
        bool wine;
        Calls skinCalls;
    } cases[] = {
        {"set", "Opus", false, {"skin Opus (internal)"}},
        {"empty keeps the default", "", false, {}},
        {"under Wine skinning is off", "Opus", true, {"skinning off"}},
    };
    for (const auto &c : cases) {
        Fakes fakes;
        RunStartupSequence(fakes.Stages(), Settings({{"application.icon_set", c.iconSet}}), c.wine);
        Calls expected = {"toolkit", "start splash", "create skin"};
        expected.insert(expected.end(), c.skinCalls.begin(), c.skinCalls.end());
        auto probe = std::find(fakes.journal.calls.begin(), fakes.journal.calls.end(), "probe");
        EXPECT_EQ(Calls(fakes.journal.calls.begin(), probe), expected) << c.name;
    }
}

TEST(StartupSequence, ProbeRefusalSkipsUpdateAndLaunchButStillCleansUp) {
    Fakes fakes;
    fakes.probeResult = false;
    EXPECT_EQ(RunStartupSequence(fakes.Stages(), Settings({}), false), 0);
    EXPECT_EQ(fakes.journal.calls, (Calls{"toolkit", "start splash", "create skin", "probe", "skin destroyed", "stop splash"}));
}

TEST(StartupSequence, AFailingStepCleansUpAsFarAsTheSequenceCame) {
    struct Case {
        const char *failAt;
        Calls tail;  // what follows the failing call
    } cases[] = {
        {"toolkit", {}},
        {"start splash", {}},
        {"create skin", {"stop splash"}},
        {"probe", {"skin destroyed", "stop splash"}},
        {"launch proxy:3128 u p 0A1B2C3D-AAAA-BBBB-CCCC-0123456789AB", {"skin destroyed", "stop splash"}},
        {"stop splash", {}},
    };
    for (const auto &c : cases) {
        Fakes fakes;
        fakes.journal.failAt = c.failAt;
        EXPECT_THROW(RunStartupSequence(fakes.Stages(), Settings({}), false), std::runtime_error) << c.failAt;
        auto at = std::find(fakes.journal.calls.begin(), fakes.journal.calls.end(), c.failAt);
        ASSERT_NE(at, fakes.journal.calls.end()) << c.failAt;
        EXPECT_EQ(Calls(at + 1, fakes.journal.calls.end()), c.tail) << c.failAt;
    }
}

TEST(StartupSequence, RunsWithTheStagesThatExist) {
    StartupState state;
    EXPECT_EQ(RunStartupSequence(StartupStages{}, Settings({{"application.icon_set", "Opus"}}), false, &state), 0);
    EXPECT_FALSE(state.InternetAvailable);
    EXPECT_EQ(state.SplashGuid, "");

    Fakes fakes;
    StartupStages onlyLaunch;
    onlyLaunch.launch = &fakes;
    EXPECT_EQ(RunStartupSequence(onlyLaunch, Settings({}), false), 0);
    EXPECT_EQ(fakes.journal.calls, (Calls{"launch    "}));
}

TEST(IsWine, NeverOnLinux) { EXPECT_FALSE(IsWine()); }
