// The proxy dialogs: texts and results, the settings dialog's initial state, boxes, radio buttons
// and what OK and Cancel write, the password dialog's boxes, and the connection error dialog's trip
// to the settings dialog.
#include "starter/ui/proxy_forms.h"

#include <gtest/gtest.h>

#include <QGroupBox>
#include <QLineEdit>
#include <QRadioButton>
#include <QStyle>
#include <QTest>
#include <map>
#include <stdexcept>

#include "starter/ui/tests/qt_test_support.h"

namespace zolm::starter {
namespace {

using testing::Child;
using testing::RunModal;
using testing::TestApp;
using testing::WhenShown;

// An in-memory settings store that records writes.
class FakeSettings {
public:
    std::map<std::string, std::string, std::less<>> values{{"application.title", "Демо"},
                                                           {"probe.url", "https://example.test/probe"}};
    std::vector<std::pair<std::string, std::string>> writes;
    bool failWrites = false;

    SettingsAccess Access() {
        return {[this](std::string_view key) {
                    auto it = values.find(key);
                    return it == values.end() ? std::string() : it->second;
                },
                [this](std::string_view key, std::string_view value) {
                    if (failWrites) throw std::runtime_error("Unable to write to start.ini");
                    writes.emplace_back(key, value);
                    values[std::string(key)] = value;
                }};
    }
};

class ProxyForms : public ::testing::Test {
protected:
    void SetUp() override { TestApp(); }
    FakeSettings settings;
};

std::string Text(QWidget *widget) {
    if (auto *button = qobject_cast<QAbstractButton *>(widget)) return button->text().toStdString();
    if (auto *label = qobject_cast<QLabel *>(widget)) return label->text().toStdString();
    if (auto *group = qobject_cast<QGroupBox *>(widget)) return group->title().toStdString();
    return "?";
}

// ---- TProxySettingsForm

TEST_F(ProxyForms, SettingsDialogTexts) {
    TProxySettingsForm form(settings.Access());
    EXPECT_EQ(form.windowTitle().toStdString(), "Настройка доступа в Интернет");
    EXPECT_EQ(form.size(), QSize(532, 300));
    const std::pair<const char *, const char *> expected[] = {{"grpProxy", " Настройка HTTP прокси-сервера "},
                                                              {"cbDirect", " Прямой доступ в Интернет"},
                                                              {"cbIE", " Прокси-сервер браузера Internet Explorer"},
                                                              {"cbProxy", " Указанный прокси-сервер"},
                                                              {"lblProxyHost", "Имя или IP адрес"},
                                                              {"lblProxyPort", "Порт"},
                                                              {"btnOk", "ОК"},
                                                              {"btnCancel", "Отмена"}};
    for (const auto &[name, text] : expected) EXPECT_EQ(Text(Child(form, name)), text) << name;
    EXPECT_EQ(form.DefaultButton(), Child<QPushButton>(form, "btnOk"));
    EXPECT_EQ(form.CancelButton(), Child<QPushButton>(form, "btnCancel"));
    EXPECT_LT(Child(form, "btnOk")->x(), Child(form, "btnCancel")->x());
}

TEST_F(ProxyForms, SettingsDialogOpensWithTheStoredChoice) {
    struct Case {
        const char *type;
        const char *selected;
        bool hostEnabled;
    } cases[] = {{"", "cbIE", false},
                 {"INTERNET_OPEN_TYPE_PRECONFIG", "cbIE", false},
                 {"INTERNET_OPEN_TYPE_DIRECT", "cbDirect", false},
                 {"INTERNET_OPEN_TYPE_PROXY", "cbProxy", true},
                 {"internet_open_type_proxy", "cbIE", false},
                 {"something else", "cbIE", false}};
    settings.values["proxy.host"] = "proxy.example.test";
    settings.values["proxy.port"] = "3128";
    for (const Case &c : cases) {
        settings.values["proxy.type"] = c.type;
        TProxySettingsForm form(settings.Access());
        for (const char *radio : {"cbDirect", "cbIE", "cbProxy"}) {
            EXPECT_EQ(Child<QRadioButton>(form, radio)->isChecked(), std::string(radio) == c.selected)
                << c.type << " " << radio;
        }
        for (const char *name : {"lblProxyHost", "edtProxyHost", "lblProxyPort", "edtProxyPort"}) {
            EXPECT_EQ(Child(form, name)->isEnabled(), c.hostEnabled) << c.type << " " << name;
        }
        // Filled from the settings even when disabled.
        EXPECT_EQ(Child<QLineEdit>(form, "edtProxyHost")->text().toStdString(), "proxy.example.test");
        EXPECT_EQ(Child<QLineEdit>(form, "edtProxyPort")->text().toStdString(), "3128");
    }
    EXPECT_TRUE(settings.writes.empty());
}

TEST_F(ProxyForms, RadioButtonsEnableHostAndPortOnlyForTheGivenProxy) {
    TProxySettingsForm form(settings.Access());
    form.show();
    for (const char *radio : {"cbProxy", "cbDirect", "cbProxy", "cbIE"}) {
        QTest::mouseClick(Child<QRadioButton>(form, radio), Qt::LeftButton, {}, QPoint(8, 12));
        const bool expected = std::string(radio) == "cbProxy";
        EXPECT_TRUE(Child<QRadioButton>(form, radio)->isChecked()) << radio;
        for (const char *name : {"lblProxyHost", "edtProxyHost", "lblProxyPort", "edtProxyPort"}) {
            EXPECT_EQ(Child(form, name)->isEnabled(), expected) << radio << " " << name;
        }
    }
    form.hide();
}

TEST_F(ProxyForms, PortBoxTakesFiveDigitsOnlyAndHostBox32Characters) {
    settings.values["proxy.type"] = "INTERNET_OPEN_TYPE_PROXY";
    TProxySettingsForm form(settings.Access());
    form.show();
    auto *port = Child<QLineEdit>(form, "edtProxyPort");
    QTest::keyClicks(port, "8a0-8 0x1234");
    EXPECT_EQ(port->text().toStdString(), "80801") << "letters, signs and blanks refused; no sixth digit";
    QTest::keyClicks(port, "9");
    EXPECT_EQ(port->text().toStdString(), "80801");
    auto *host = Child<QLineEdit>(form, "edtProxyHost");
    QTest::keyClicks(host, QString(40, QLatin1Char('h')));
    EXPECT_EQ(host->text().size(), 32);
    form.hide();
}

TEST_F(ProxyForms, OkWritesTypeHostAndPortWhateverTheType) {
    struct Case {
        const char *radio;
        const char *type;
    } cases[] = {{"cbDirect", "INTERNET_OPEN_TYPE_DIRECT"},
                 {"cbIE", "INTERNET_OPEN_TYPE_PRECONFIG"},
                 {"cbProxy", "INTERNET_OPEN_TYPE_PROXY"}};
    for (const Case &c : cases) {
        settings.writes.clear();
        settings.values["proxy.type"] = "INTERNET_OPEN_TYPE_PROXY";
        settings.values["proxy.host"] = "10.0.0.1";
        settings.values["proxy.port"] = "8080";
        TProxySettingsForm form(settings.Access());
        ModalResult result = RunModal(form, [&] {
            Child<QLineEdit>(form, "edtProxyPort")->clear();
            QTest::keyClicks(Child<QLineEdit>(form, "edtProxyPort"), "3128");
            Child<QRadioButton>(form, c.radio)->click();
            Child<QPushButton>(form, "btnOk")->click();
        });
        EXPECT_EQ(result, ModalResult::Ok) << c.radio;
        const std::vector<std::pair<std::string, std::string>> expected = {
            {"proxy.type", c.type}, {"proxy.host", "10.0.0.1"}, {"proxy.port", "3128"}};
        EXPECT_EQ(settings.writes, expected) << c.radio;
    }
}

TEST_F(ProxyForms, CancelEscapeAndCloseWriteNothing) {
    settings.values["proxy.type"] = "INTERNET_OPEN_TYPE_PROXY";
    const std::pair<const char *, std::function<void(TProxySettingsForm &)>> ways[] = {
        {"Cancel", [](TProxySettingsForm &f) { Child<QPushButton>(f, "btnCancel")->click(); }},
        {"Escape", [](TProxySettingsForm &f) { QTest::keyClick(&f, Qt::Key_Escape); }},
        {"close", [](TProxySettingsForm &f) { f.close(); }}};
    for (const auto &[name, act] : ways) {
        TProxySettingsForm form(settings.Access());
        EXPECT_EQ(RunModal(form,
                           [&, &act = act] {
                               Child<QRadioButton>(form, "cbDirect")->click();
                               QTest::keyClicks(Child<QLineEdit>(form, "edtProxyHost"), "changed");
                               act(form);
                           }),
                  ModalResult::Cancel)
            << name;
    }
    EXPECT_TRUE(settings.writes.empty());
}

TEST_F(ProxyForms, AFailedWriteReachesTheCaller) {
    settings.failWrites = true;
    TProxySettingsForm form(settings.Access());
    try {
        RunModal(form, [&] { Child<QPushButton>(form, "btnOk")->click(); });
        FAIL() << "no error";
    } catch (const std::runtime_error &e) {
        EXPECT_STREQ(e.what(), "Unable to write to start.ini");
    }
    EXPECT_FALSE(form.isVisible());
}

// ---- TProxyPasswordForm

TEST_F(ProxyForms, PasswordDialogTextsBoxesAndResults) {
    TProxyPasswordForm form(settings.Access());
    EXPECT_EQ(form.windowTitle().toStdString(), "Настройка доступа в Интернет");
    EXPECT_EQ(Text(Child(form, "grpPassword")), " Пароль для доступа к HTTP прокси-серверу ");
    EXPECT_EQ(form.MessageLabel()->text().toStdString(),
              "Приложению \"Демо\" требуется доступ в Интернет, однако Ваш HTTP прокси-сервер требует указания "
              "имени пользователя и пароля.");
    EXPECT_EQ(form.MessageLabel()->width(), 340);
    EXPECT_EQ(form.size(), QSize(532, 314)) << "the design text and the title's text take the same lines";
    EXPECT_EQ(Text(Child(form, "lblUsername")), "Имя пользователя");
    EXPECT_EQ(Text(Child(form, "lblPassword")), "Пароль");
    auto *user = Child<QLineEdit>(form, "edtUsername");
    auto *password = Child<QLineEdit>(form, "edtPassword");
    EXPECT_TRUE(user->text().isEmpty());
    EXPECT_TRUE(password->text().isEmpty());
    EXPECT_EQ(user->maxLength(), 32);
    EXPECT_EQ(password->maxLength(), 32);
    EXPECT_EQ(password->echoMode(), QLineEdit::Password);
    EXPECT_EQ(password->style()->styleHint(QStyle::SH_LineEdit_PasswordCharacter, nullptr, password), '*');
    EXPECT_EQ(form.DefaultButton(), Child<QPushButton>(form, "btnOk"));
    EXPECT_EQ(form.CancelButton(), Child<QPushButton>(form, "btnCancel"));

    EXPECT_EQ(RunModal(form,
                       [&] {
                           QTest::keyClicks(user, "ivanov");
                           password->insert(QString::fromUtf8("секрет"));  // QTest types ASCII only
                           QTest::keyClick(password, Qt::Key_Return);
                       }),
              ModalResult::Ok);
    EXPECT_EQ(form.Username(), "ivanov");
    EXPECT_EQ(form.Password(), "секрет");
    EXPECT_TRUE(settings.writes.empty()) << "proxy credentials are never stored";
}

TEST_F(ProxyForms, PasswordDialogGrowsWithALongTitle) {
    TProxyPasswordForm plain(settings.Access());
    settings.values["application.title"] = std::string(200, 'W');
    TProxyPasswordForm form(settings.Access());
    EXPECT_GT(form.height(), 314);
    EXPECT_EQ(form.height() - form.MessageLabel()->height(), plain.height() - plain.MessageLabel()->height());
    EXPECT_EQ(form.height() - Child(form, "btnOk")->y(), plain.height() - Child(plain, "btnOk")->y());
    EXPECT_GT(Child(form, "edtUsername")->y(), form.MessageLabel()->geometry().bottom());
}

// ---- TInternetErrorForm

TEST_F(ProxyForms, ConnectionErrorDialogTextButtonsAndResults) {
    TInternetErrorForm form(settings.Access(), "Вызов HttpSendRequest вернул ошибку 12007: имя не найдено");
    EXPECT_EQ(form.windowTitle().toStdString(), "Проверка доступа в Интернет");
    EXPECT_EQ(form.MessageLabel()->text().toStdString(),
              "Приложению \"Демо\" для нормального функционирования необходим доступ в Интернет, однако при "
              "пробном обращении к серверу https://example.test/probe произошла ошибка:\n\nВызов HttpSendRequest "
              "вернул ошибку 12007: имя не найдено\n\nОдна из возможных причин - неправильная настройка HTTP "
              "прокси-сервера, через который Вы выходите в Интернет, пожалуйста, убедитесь, что настройки "
              "прокси-сервера соответствуют действительности и повторите проверку.");
    EXPECT_EQ(form.MessageLabel()->width(), 609);
    const char *order[] = {"btnRetry", "btnAbort", "btnIgnore"};
    const char *labels[] = {"Повторить", "Прервать", "Игнорировать"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(Text(Child(form, order[i])), labels[i]);
        if (i > 0) {
            EXPECT_LT(Child(form, order[i - 1])->x(), Child(form, order[i])->x());
        }
    }
    auto *proxy = Child(form, "btnProxy");
    EXPECT_EQ(Text(proxy), "Настроить...");
    EXPECT_LT(proxy->y(), Child(form, "btnRetry")->y()) << "above the others";
    EXPECT_GT(proxy->x(), Child(form, "btnIgnore")->x()) << "at the right";
    EXPECT_EQ(Child(form, "btnRetry")->nextInFocusChain(), Child(form, "btnAbort"));
    EXPECT_EQ(Child(form, "btnAbort")->nextInFocusChain(), Child(form, "btnIgnore"));
    EXPECT_EQ(Child(form, "btnIgnore")->nextInFocusChain(), proxy);
    EXPECT_EQ(form.DefaultButton(), Child<QPushButton>(form, "btnRetry"));
    EXPECT_EQ(form.CancelButton(), Child<QPushButton>(form, "btnAbort"));

    const std::pair<std::function<void(TInternetErrorForm &)>, ModalResult> ways[] = {
        {[](TInternetErrorForm &f) { Child<QPushButton>(f, "btnRetry")->click(); }, ModalResult::Retry},
        {[](TInternetErrorForm &f) { Child<QPushButton>(f, "btnAbort")->click(); }, ModalResult::Abort},
        {[](TInternetErrorForm &f) { Child<QPushButton>(f, "btnIgnore")->click(); }, ModalResult::Ignore},
        {[](TInternetErrorForm &f) { QTest::keyClick(&f, Qt::Key_Escape); }, ModalResult::Abort},
        {[](TInternetErrorForm &f) { QTest::keyClick(&f, Qt::Key_Return); }, ModalResult::Retry},
        {[](TInternetErrorForm &f) { f.close(); }, ModalResult::Cancel}};
    for (const auto &[act, expected] : ways) {
        TInternetErrorForm again(settings.Access(), "ошибка");
        EXPECT_EQ(RunModal(again, [&, &act = act] { act(again); }), expected);
    }
}

TEST_F(ProxyForms, ALongErrorMakesTheConnectionDialogTallerWithButtonsKeepingTheirPlace) {
    TInternetErrorForm shortForm(settings.Access(), "ошибка");
    std::string longError;
    for (int i = 0; i < 12; ++i) longError += "строка ошибки " + std::to_string(i) + "\r\n";
    TInternetErrorForm longForm(settings.Access(), longError);
    const int growth = longForm.MessageLabel()->height() - shortForm.MessageLabel()->height();
    EXPECT_GT(growth, 0);
    EXPECT_EQ(longForm.height(), shortForm.height() + growth);
    for (const char *name : {"btnRetry", "btnAbort", "btnIgnore", "btnProxy"}) {
        EXPECT_EQ(longForm.height() - Child(longForm, name)->y(), shortForm.height() - Child(shortForm, name)->y())
            << name;
    }
}

TEST_F(ProxyForms, SettingsButtonOpensTheSettingsDialogAndComesBack) {
    TInternetErrorForm form(settings.Access(), "ошибка");
    bool settingsSeen = false;
    bool errorHiddenMeanwhile = false;
    ModalResult result = RunModal(form, [&] {
        WhenShown<TProxySettingsForm>([&](TProxySettingsForm &settingsForm) {
            settingsSeen = true;
            errorHiddenMeanwhile = !form.isVisible();
            Child<QRadioButton>(settingsForm, "cbDirect")->click();
            Child<QPushButton>(settingsForm, "btnOk")->click();
        });
        Child<QPushButton>(form, "btnProxy")->click();
        // Back from the settings dialog: the error dialog is open again and still waits for an answer.
        EXPECT_TRUE(form.isVisible());
        EXPECT_EQ(form.Result(), ModalResult::None);
        Child<QPushButton>(form, "btnRetry")->click();
    });
    EXPECT_TRUE(settingsSeen);
    EXPECT_TRUE(errorHiddenMeanwhile);
    EXPECT_EQ(result, ModalResult::Retry);
    EXPECT_EQ(settings.values["proxy.type"], "INTERNET_OPEN_TYPE_DIRECT");
}

}  // namespace
}  // namespace zolm::starter
