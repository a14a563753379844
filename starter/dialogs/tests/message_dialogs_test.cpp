// The message dialogs and the splash: hidden before, shown again or dismissed after, also when the
// dialog fails.
#include "starter/dialogs/message_dialogs.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace zolm::starter {
namespace {

class RecordingSplash : public SplashControl {
public:
    void HideSplash(bool immediate) override { calls += immediate ? "hide(now) " : "hide "; }
    void ShowSplash() override { calls += "show "; }
    void DismissSplash() override { calls += "dismiss "; }
    std::string calls;
};

// Answers the question with a fixed result; the other dialogs record their texts, or fail.
class ScriptedUi : public UserInterface {
public:
    ModalResult answer = ModalResult::Yes;
    bool fail = false;
    std::string seen;

    ModalResult Confirm(const std::string &q) override {
        Check(q);
        return answer;
    }
    void Error(const std::string &m) override { Check(m); }
    void Information(const std::string &c, const std::string &m) override { Check(c + "|" + m); }
    ModalResult InternetError(const std::string &) override { return ModalResult::Abort; }
    ModalResult ProxySettings() override { return ModalResult::Cancel; }
    std::optional<ProxyCredentials> ProxyPassword() override { return std::nullopt; }

private:
    void Check(const std::string &text) {
        seen = text;
        if (fail) throw std::runtime_error("no window");
    }
};

TEST(AskConfirmation, YesBringsTheSplashBackOtherAnswersDismissIt) {
    struct Case {
        ModalResult answer;
        const char *calls;
    } cases[] = {
        {ModalResult::Yes, "hide show "}, {ModalResult::No, "hide dismiss "}, {ModalResult::Cancel, "hide dismiss "}};
    for (const Case &c : cases) {
        RecordingSplash splash;
        ScriptedUi ui;
        ui.answer = c.answer;
        EXPECT_EQ(AskConfirmation(ui, splash, "Вопрос?"), c.answer);
        EXPECT_EQ(ui.seen, "Вопрос?");
        EXPECT_EQ(splash.calls, c.calls) << static_cast<int>(c.answer);
    }
}

TEST(ShowError, FinalDismissesOtherwiseShowsAgainAlsoWhenTheDialogFails) {
    struct Case {
        bool final;
        bool fail;
        const char *calls;
    } cases[] = {{false, false, "hide show "},
                 {true, false, "hide dismiss "},
                 {false, true, "hide show "},
                 {true, true, "hide dismiss "}};
    for (const Case &c : cases) {
        RecordingSplash splash;
        ScriptedUi ui;
        ui.fail = c.fail;
        if (c.fail) {
            EXPECT_THROW(ShowError(ui, splash, "Ошибка", c.final), std::runtime_error);
        } else {
            ShowError(ui, splash, "Ошибка", c.final);
        }
        EXPECT_EQ(splash.calls, c.calls) << c.final << c.fail;
    }
}

TEST(ShowInformation, AlwaysShowsTheSplashAgain) {
    for (bool fail : {false, true}) {
        RecordingSplash splash;
        ScriptedUi ui;
        ui.fail = fail;
        if (fail) {
            EXPECT_THROW(ShowInformation(ui, splash, "Заголовок", "Текст"), std::runtime_error);
        } else {
            ShowInformation(ui, splash, "Заголовок", "Текст");
        }
        EXPECT_EQ(ui.seen, "Заголовок|Текст");
        EXPECT_EQ(splash.calls, "hide show ");
    }
}

TEST(InstalledDialogs, UseTheInstalledInterfaceAndRefuseWithoutOne) {
    InstallDialogs(nullptr, nullptr);
    EXPECT_THROW(AskConfirmation("?"), std::logic_error);
    RecordingSplash splash;
    ScriptedUi ui;
    ui.answer = ModalResult::No;
    InstallDialogs(&ui, &splash);
    EXPECT_EQ(AskConfirmation("Точно?"), ModalResult::No);
    ShowError("Сбой", true);
    EXPECT_EQ(splash.calls, "hide dismiss hide dismiss ");
    InstallDialogs(nullptr, nullptr);
}

}  // namespace
}  // namespace zolm::starter
