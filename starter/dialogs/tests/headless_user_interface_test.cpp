// Without a display: every message printed whole on the stream, and the fixed answers.
#include "starter/dialogs/headless_user_interface.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "starter/dialogs/dialog_texts.h"

namespace zolm::starter {
namespace {

class Headless : public ::testing::Test {
protected:
    std::map<std::string, std::string, std::less<>> settings{{"application.title", "Демо"},
                                                             {"probe.url", "https://example.test/probe"}};
    std::vector<std::string> writes;
    std::ostringstream out;
    HeadlessUserInterface ui{
        SettingsAccess{[this](std::string_view key) {
                           auto it = settings.find(key);
                           return it == settings.end() ? std::string() : it->second;
                       },
                       [this](std::string_view key, std::string_view) { writes.emplace_back(key); }},
        out};
};

TEST_F(Headless, QuestionAnswersNoAndPrintsTheWholeQuestion) {
    EXPECT_EQ(ui.Confirm("Продолжить?\r\nВторая строка"), ModalResult::No);
    EXPECT_EQ(out.str(), "Подтвердите выбор\nПродолжить?\nВторая строка\nОтвет: Нет\n\n");
}

TEST_F(Headless, ErrorAndInformationArePrinted) {
    ui.Error("При запуске приложения \"Демо\" произошла ошибка:\r\n\r\nнет файла");
    ui.Information("Обновление версии приложения", "Новая версия приложения \"Демо\" успешно установлена.");
    EXPECT_EQ(out.str(),
              "Ошибка выполнения\nПри запуске приложения \"Демо\" произошла ошибка:\n\nнет файла\n\n"
              "Обновление версии приложения\nНовая версия приложения \"Демо\" успешно установлена.\n\n");
}

TEST_F(Headless, ConnectionErrorAnswersAbortWithTheFullText) {
    EXPECT_EQ(ui.InternetError("Вызов X вернул ошибку 7: нет связи"), ModalResult::Abort);
    EXPECT_EQ(out.str(),
              "Проверка доступа в Интернет\n"
              "Приложению \"Демо\" для нормального функционирования необходим доступ в Интернет, однако при "
              "пробном обращении к серверу https://example.test/probe произошла ошибка:\n\nВызов X вернул "
              "ошибку 7: нет связи\n\nОдна из возможных причин - неправильная настройка HTTP прокси-сервера, "
              "через который Вы выходите в Интернет, пожалуйста, убедитесь, что настройки прокси-сервера "
              "соответствуют действительности и повторите проверку.\nОтвет: Прервать\n\n");
}

TEST_F(Headless, ProxyDialogsCancelAndWriteNothing) {
    EXPECT_EQ(ui.ProxySettings(), ModalResult::Cancel);
    EXPECT_EQ(ui.ProxyPassword(), std::nullopt);
    EXPECT_TRUE(writes.empty());
    EXPECT_EQ(out.str(),
              "Настройка доступа в Интернет\nНастройка HTTP прокси-сервера \nОтвет: Отмена\n\n"
              "Настройка доступа в Интернет\nПриложению \"Демо\" требуется доступ в Интернет, однако Ваш HTTP "
              "прокси-сервер требует указания имени пользователя и пароля.\nОтвет: Отмена\n\n");
}

TEST(DialogTexts, FormatFillsInOrderAndNeverReadsArgumentsAsFormats) {
    EXPECT_EQ(texts::Format("a %s b %s c", {"1", "%s"}), "a 1 b %s c");
    EXPECT_EQ(texts::Format("100%% %s %d", {"x"}), "100% x %d");
    EXPECT_EQ(texts::Format("%s and %s", {"only"}), "only and ");
}

TEST(DisplayDetection, DisplayOrWaylandMeansADesktop) {
    struct Case {
        const char *display;
        const char *wayland;
        bool expected;
    } cases[] = {{nullptr, nullptr, false}, {"", "", false}, {":0", nullptr, true}, {nullptr, "wayland-0", true}};
    for (const Case &c : cases) {
        c.display ? setenv("DISPLAY", c.display, 1) : unsetenv("DISPLAY");
        c.wayland ? setenv("WAYLAND_DISPLAY", c.wayland, 1) : unsetenv("WAYLAND_DISPLAY");
        EXPECT_EQ(HasDisplay(), c.expected) << (c.display ? c.display : "-") << " " << (c.wayland ? c.wayland : "-");
    }
}

}  // namespace
}  // namespace zolm::starter
