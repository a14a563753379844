// The three message dialogs: the question (TConfirmationForm), the error (TErrorForm) and the
// information (TInformationForm), each 760x150 with a word-wrapped message label 633 pixels wide at
// 96,24 that makes the form taller or shorter with its text.
#pragma once

#include "starter/ui/starter_form.h"

namespace zolm::starter {

// The design client size and message label of the three.
inline constexpr int kMessageFormWidth = 760;
inline constexpr int kMessageFormHeight = 150;
inline constexpr int kMessageLabelWidth = 633;

class TMessageForm : public TStarterForm {
    Q_OBJECT
public:
    // Sets the message, resizing the form as the label sizing rule says.
    void SetText(const std::string &text);
    QLabel *MessageLabel() const { return lblMessage_; }

protected:
    explicit TMessageForm(DialogIcon icon);
    // A button in the bottom row, slot 0 at the left; moves with the label.
    QPushButton *AddRowButton(const char *name, const char *text, ModalResult result, int slot);

private:
    QLabel *lblMessage_;
};

// "Подтвердите выбор": Да (Yes, default), Нет (No), Отмена (Cancel, cancel button), left to right.
class TConfirmationForm : public TMessageForm {
    Q_OBJECT
public:
    explicit TConfirmationForm(const std::string &question);
};

// "Ошибка выполнения": Закрыть (OK, default and cancel button).
class TErrorForm : public TMessageForm {
    Q_OBJECT
public:
    explicit TErrorForm(const std::string &message);
};

// Caption set by the caller: ОК (OK, default and cancel button).
class TInformationForm : public TMessageForm {
    Q_OBJECT
public:
    TInformationForm();
    void SetCaption(const std::string &caption);
};

}  // namespace zolm::starter
