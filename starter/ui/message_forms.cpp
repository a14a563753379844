// Message dialogs: captions, pictures, buttons and results.
#include "starter/ui/message_forms.h"

#include "starter/dialogs/dialog_texts.h"

namespace zolm::starter {
namespace {

constexpr int kButtonWidth = 110;
constexpr int kButtonHeight = 30;
constexpr int kButtonGap = 12;
constexpr int kButtonBottomMargin = 20;

}  // namespace

TMessageForm::TMessageForm(DialogIcon icon)
    : TStarterForm(QSize(kMessageFormWidth, kMessageFormHeight), icon), lblMessage_(new QLabel(this)) {
    lblMessage_->setObjectName(QStringLiteral("lblMessage"));
    lblMessage_->move(96, 24);
    lblMessage_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // The design text is one line: a one-line message keeps the design height.
    PrepareMessageLabel(lblMessage_, kMessageLabelWidth, QStringLiteral("lblMessage"));
}

void TMessageForm::SetText(const std::string &text) { SizeMessageLabel(lblMessage_, ToQString(text)); }

QPushButton *TMessageForm::AddRowButton(const char *name, const char *text, ModalResult result, int slot) {
    // The row starts under the message label's left edge.
    const QRect geometry(96 + slot * (kButtonWidth + kButtonGap),
                         kMessageFormHeight - kButtonBottomMargin - kButtonHeight, kButtonWidth, kButtonHeight);
    QPushButton *button = AddButton(name, text, result, geometry);
    MoveWithLabel(button);
    return button;
}

TConfirmationForm::TConfirmationForm(const std::string &question) : TMessageForm(DialogIcon::Question) {
    setObjectName(QStringLiteral("TConfirmationForm"));
    setWindowTitle(QString::fromUtf8(texts::kConfirmationCaption));
    QPushButton *btnYes = AddRowButton("btnYes", texts::kYes, ModalResult::Yes, 0);
    AddRowButton("btnNo", texts::kNo, ModalResult::No, 1);
    QPushButton *btnCancel = AddRowButton("btnCancel", texts::kCancel, ModalResult::Cancel, 2);
    SetDefaultButton(btnYes);
    SetCancelButton(btnCancel);
    SetText(question);
}

TErrorForm::TErrorForm(const std::string &message) : TMessageForm(DialogIcon::Error) {
    setObjectName(QStringLiteral("TErrorForm"));
    setWindowTitle(QString::fromUtf8(texts::kErrorCaption));
    QPushButton *btnClose = AddRowButton("btnClose", texts::kClose, ModalResult::Ok, 0);
    SetDefaultButton(btnClose);
    SetCancelButton(btnClose);
    SetText(message);
}

TInformationForm::TInformationForm() : TMessageForm(DialogIcon::Information) {
    setObjectName(QStringLiteral("TInformationForm"));
    QPushButton *btnClose = AddRowButton("btnClose", texts::kOk, ModalResult::Ok, 0);
    SetDefaultButton(btnClose);
    SetCancelButton(btnClose);
}

void TInformationForm::SetCaption(const std::string &caption) { setWindowTitle(ToQString(caption)); }

}  // namespace zolm::starter
