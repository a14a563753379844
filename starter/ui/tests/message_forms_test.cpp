// The three message dialogs: captions, buttons in order with their results, default and cancel
// buttons, and the label sizing rule.
#include "starter/ui/message_forms.h"

#include <gtest/gtest.h>

#include <QTest>
#include <memory>

#include "starter/ui/tests/qt_test_support.h"

namespace zolm::starter {
namespace {

using testing::Child;
using testing::RunModal;
using testing::TestApp;

struct ButtonSpec {
    const char *name;
    const char *text;
    ModalResult result;
};

struct MessageFormCase {
    const char *name;
    std::function<std::unique_ptr<TMessageForm>(const std::string &)> make;
    const char *caption;
    std::vector<ButtonSpec> buttons;  // left to right
    const char *defaultButton;
    const char *cancelButton;
    ModalResult escapeResult;
};

void PrintTo(const MessageFormCase &c, std::ostream *out) { *out << c.name; }

std::unique_ptr<TMessageForm> MakeInformation(const std::string &text) {
    auto form = std::make_unique<TInformationForm>();
    form->SetCaption("Обновление версии приложения");
    form->SetText(text);
    return form;
}

const MessageFormCase kCases[] = {
    {"Confirmation",
     [](const std::string &t) { return std::make_unique<TConfirmationForm>(t); },
     "Подтвердите выбор",
     {{"btnYes", "Да", ModalResult::Yes},
      {"btnNo", "Нет", ModalResult::No},
      {"btnCancel", "Отмена", ModalResult::Cancel}},
     "btnYes",
     "btnCancel",
     ModalResult::Cancel},
    {"Error",
     [](const std::string &t) { return std::make_unique<TErrorForm>(t); },
     "Ошибка выполнения",
     {{"btnClose", "Закрыть", ModalResult::Ok}},
     "btnClose",
     "btnClose",
     ModalResult::Ok},
    {"Information",
     MakeInformation,
     "Обновление версии приложения",
     {{"btnClose", "ОК", ModalResult::Ok}},
     "btnClose",
     "btnClose",
     ModalResult::Ok},
};

class MessageForm : public ::testing::TestWithParam<MessageFormCase> {
protected:
    void SetUp() override { TestApp(); }
};

TEST_P(MessageForm, CaptionTextAndButtonsInOrder) {
    const MessageFormCase &c = GetParam();
    auto form = c.make("Сообщение для пользователя");
    EXPECT_EQ(form->windowTitle().toStdString(), c.caption);
    EXPECT_EQ(form->MessageLabel()->text().toStdString(), "Сообщение для пользователя");
    EXPECT_EQ(form->MessageLabel()->geometry(), QRect(96, 24, 633, form->MessageLabel()->height()));
    EXPECT_EQ(form->size(), QSize(760, 150));
    int lastX = -1;
    for (const ButtonSpec &b : c.buttons) {
        auto *button = Child<QPushButton>(*form, b.name);
        ASSERT_NE(button, nullptr) << b.name;
        EXPECT_EQ(button->text().toStdString(), b.text);
        EXPECT_GT(button->x(), lastX) << b.name << " stands left of the one before it";
        EXPECT_GT(button->y(), form->MessageLabel()->geometry().bottom()) << "buttons stand below the text";
        lastX = button->x();
    }
    EXPECT_EQ(form->findChildren<QPushButton *>().size(), static_cast<qsizetype>(c.buttons.size()));
    EXPECT_EQ(form->DefaultButton(), Child<QPushButton>(*form, c.defaultButton));
    EXPECT_TRUE(form->DefaultButton()->isDefault());
    EXPECT_EQ(form->CancelButton(), Child<QPushButton>(*form, c.cancelButton));
}

TEST_P(MessageForm, EachButtonEndsWithItsResult) {
    const MessageFormCase &c = GetParam();
    for (const ButtonSpec &b : c.buttons) {
        auto form = c.make("Текст");
        EXPECT_EQ(RunModal(*form, [&] { Child<QPushButton>(*form, b.name)->click(); }), b.result) << b.name;
        EXPECT_FALSE(form->isVisible());
    }
}

TEST_P(MessageForm, KeyboardAndCloseButton) {
    const MessageFormCase &c = GetParam();
    const ModalResult defaultResult = c.buttons.front().result;
    {
        auto form = c.make("Текст");
        EXPECT_EQ(RunModal(*form, [&] { QTest::keyClick(form.get(), Qt::Key_Escape); }), c.escapeResult) << "Escape";
    }
    {
        auto form = c.make("Текст");
        EXPECT_EQ(RunModal(*form, [&] { QTest::keyClick(form.get(), Qt::Key_Return); }), defaultResult) << "Enter";
    }
    {
        auto form = c.make("Текст");
        EXPECT_EQ(RunModal(*form, [&] { form->close(); }), ModalResult::Cancel) << "close button";
    }
}

INSTANTIATE_TEST_SUITE_P(Forms, MessageForm, ::testing::ValuesIn(kCases),
                         [](const auto &info) { return std::string(info.param.name); });

TEST(MessageLabelSizing, TenLinesMakeTheFormTallerByTheLabelsGrowth) {
    TestApp();
    TErrorForm oneLine("Одна строка");
    const int designLabelHeight = oneLine.MessageLabel()->height();
    EXPECT_EQ(oneLine.height(), 150) << "a one-line message keeps the design height";

    std::string tenLines;
    for (int i = 1; i <= 10; ++i) tenLines += "Строка " + std::to_string(i) + (i < 10 ? "\r\n" : "");
    TErrorForm tall(tenLines);
    const int growth = tall.MessageLabel()->height() - designLabelHeight;
    EXPECT_GT(growth, 8 * QFontMetrics(tall.MessageLabel()->font()).lineSpacing());
    EXPECT_EQ(tall.height(), 150 + growth);
    EXPECT_EQ(tall.width(), 760);
    auto *button = Child<QPushButton>(tall, "btnClose");
    EXPECT_EQ(tall.height() - button->geometry().bottom(),
              oneLine.height() - Child<QPushButton>(oneLine, "btnClose")->geometry().bottom())
        << "the button keeps its distance from the bottom edge";
    EXPECT_GT(button->y(), tall.MessageLabel()->geometry().bottom());
}

TEST(MessageLabelSizing, LongWordWrappedTextGrowsAndInformationResizesOnEachText) {
    TestApp();
    TInformationForm form;
    form.SetText("короткий");
    EXPECT_EQ(form.height(), 150);
    std::string paragraph;
    for (int i = 0; i < 40; ++i) paragraph += "слово ";
    form.SetText(paragraph);
    EXPECT_GT(form.height(), 150);
    form.SetText("снова короткий");
    EXPECT_EQ(form.height(), 150) << form.MessageLabel()->height();
}

TEST(MessageLabelSizing, MarkupInAMessageIsShownAsItStands) {
    TestApp();
    TErrorForm form("<b>Ошибка</b> & <a href='x'>ссылка</a>");
    EXPECT_EQ(form.MessageLabel()->textFormat(), Qt::PlainText);
    EXPECT_EQ(form.MessageLabel()->text().toStdString(), "<b>Ошибка</b> & <a href='x'>ссылка</a>");
}

}  // namespace
}  // namespace zolm::starter
