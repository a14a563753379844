// The proxy dialogs' controls, their initial state from the settings and their handlers.
#include "starter/ui/proxy_forms.h"

#include <QRegularExpressionValidator>

#include "starter/dialogs/dialog_texts.h"

namespace zolm::starter {
namespace {

constexpr int kButtonWidth = 110;
constexpr int kButtonHeight = 30;
constexpr int kEditHeight = 26;

QString Q(const char *text) { return QString::fromUtf8(text); }

QLineEdit *AddEdit(QWidget *parent, const char *name, QRect geometry, int maxLength) {
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(QString::fromLatin1(name));
    edit->setFont(parent->window()->font());
    edit->setPalette(parent->window()->palette());
    edit->setGeometry(geometry);
    edit->setMaxLength(maxLength);
    return edit;
}

}  // namespace

// ---- TInternetErrorForm

TInternetErrorForm::TInternetErrorForm(SettingsAccess settings, const std::string &errorMessage)
    : TStarterForm(QSize(760, 317), DialogIcon::Error), settings_(std::move(settings)), lblMessage_(new QLabel(this)) {
    setObjectName(QStringLiteral("TInternetErrorForm"));
    setWindowTitle(Q(texts::kInternetCheckCaption));
    lblMessage_->setObjectName(QStringLiteral("lblMessage"));
    lblMessage_->move(96, 24);
    lblMessage_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    PrepareMessageLabel(lblMessage_, 609, ToQString(texts::kInternetErrorFormat));

    const int row = 317 - 20 - kButtonHeight;
    QPushButton *btnRetry =
        AddButton("btnRetry", texts::kRetry, ModalResult::Retry, QRect(96, row, 140, kButtonHeight));
    QPushButton *btnAbort =
        AddButton("btnAbort", texts::kAbort, ModalResult::Abort, QRect(248, row, 140, kButtonHeight));
    QPushButton *btnIgnore =
        AddButton("btnIgnore", texts::kIgnore, ModalResult::Ignore, QRect(400, row, 140, kButtonHeight));
    QPushButton *btnProxy = AddButton("btnProxy", texts::kProxyButton, ModalResult::None,
                                      QRect(760 - 24 - 140, row - kButtonHeight - 12, 140, kButtonHeight));
    for (QPushButton *button : {btnRetry, btnAbort, btnIgnore, btnProxy}) MoveWithLabel(button);
    setTabOrder(btnRetry, btnAbort);
    setTabOrder(btnAbort, btnIgnore);
    setTabOrder(btnIgnore, btnProxy);
    SetDefaultButton(btnRetry);
    SetCancelButton(btnAbort);
    connect(btnProxy, &QPushButton::clicked, this, [this] { btnProxyClick(); });

    const std::string text = texts::Format(
        texts::kInternetErrorFormat, {settings_.read("application.title"), settings_.read("probe.url"), errorMessage});
    SizeMessageLabel(lblMessage_, ToQString(text));
}

// The error dialog steps aside for the settings dialog and stays open whatever the user chose there:
// new settings take effect with the next Retry.
void TInternetErrorForm::btnProxyClick() {
    hide();
    try {
        TProxySettingsForm settingsForm(settings_);
        settingsForm.ShowModal();
    } catch (...) {
        show();
        FinishWithError(std::current_exception());
        return;
    }
    show();
}

// ---- TProxySettingsForm

TProxySettingsForm::TProxySettingsForm(SettingsAccess settings)
    : TStarterForm(QSize(532, 300), DialogIcon::Globe), settings_(std::move(settings)) {
    setObjectName(QStringLiteral("TProxySettingsForm"));
    setWindowTitle(Q(texts::kInternetSettingsCaption));

    auto *group = new QGroupBox(Q(texts::kProxyGroup), this);
    group->setObjectName(QStringLiteral("grpProxy"));
    group->setGeometry(96, 16, 420, 212);
    cbDirect_ = new QRadioButton(Q(texts::kDirect), group);
    cbDirect_->setObjectName(QStringLiteral("cbDirect"));
    cbDirect_->setGeometry(16, 32, 390, 24);
    cbIE_ = new QRadioButton(Q(texts::kPreconfig), group);
    cbIE_->setObjectName(QStringLiteral("cbIE"));
    cbIE_->setGeometry(16, 60, 390, 24);
    cbProxy_ = new QRadioButton(Q(texts::kExplicitProxy), group);
    cbProxy_->setObjectName(QStringLiteral("cbProxy"));
    cbProxy_->setGeometry(16, 88, 390, 24);
    for (QRadioButton *radio : {cbDirect_, cbIE_, cbProxy_}) UseFormLook(radio);
    lblProxyHost_ = AddLabel(group, "lblProxyHost", Q(texts::kProxyHost), QPoint(40, 124));
    edtProxyHost_ = AddEdit(group, "edtProxyHost", QRect(40, 146, 250, kEditHeight), 32);
    lblProxyPort_ = AddLabel(group, "lblProxyPort", Q(texts::kProxyPort), QPoint(306, 124));
    edtProxyPort_ = AddEdit(group, "edtProxyPort", QRect(306, 146, 90, kEditHeight), 5);
    // Digits only: a letter, a sign or a blank is refused as it is typed or pasted.
    edtProxyPort_->setValidator(
        new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[0-9]*")), edtProxyPort_));

    const int row = 300 - 20 - kButtonHeight;
    QPushButton *btnOk = AddButton("btnOk", texts::kOk, ModalResult::None,
                                   QRect(532 - 24 - 2 * kButtonWidth - 12, row, kButtonWidth, kButtonHeight));
    QPushButton *btnCancel = AddButton("btnCancel", texts::kCancel, ModalResult::Cancel,
                                       QRect(532 - 24 - kButtonWidth, row, kButtonWidth, kButtonHeight));
    SetDefaultButton(btnOk);
    SetCancelButton(btnCancel);
    connect(btnOk, &QPushButton::clicked, this, [this] { btnOkClick(); });

    cbIE_->setChecked(true);
    for (QRadioButton *radio : {cbDirect_, cbIE_, cbProxy_}) {
        connect(radio, &QRadioButton::toggled, this, [this] { cbDirectClick(); });
    }
    const std::string type = settings_.read(texts::kProxyTypeKey);
    if (type == texts::kTypePreconfig) {
        cbIE_->setChecked(true);
    } else if (type == texts::kTypeProxy) {
        cbProxy_->setChecked(true);
    } else if (type == texts::kTypeDirect) {
        cbDirect_->setChecked(true);
    }
    // Values longer than the boxes allow are cut by them, as typing would be.
    edtProxyHost_->setText(QString::fromStdString(settings_.read(texts::kProxyHostKey)));
    edtProxyPort_->setText(QString::fromStdString(settings_.read(texts::kProxyPortKey)));
    cbDirectClick();
}

void TProxySettingsForm::cbDirectClick() {
    const bool explicitProxy = cbProxy_->isChecked();
    for (QWidget *widget :
         std::initializer_list<QWidget *>{lblProxyHost_, edtProxyHost_, lblProxyPort_, edtProxyPort_}) {
        widget->setEnabled(explicitProxy);
    }
}

void TProxySettingsForm::btnOkClick() {
    try {
        const char *type = cbDirect_->isChecked() ? texts::kTypeDirect
                           : cbIE_->isChecked()   ? texts::kTypePreconfig
                                                  : texts::kTypeProxy;
        settings_.write(texts::kProxyTypeKey, type);
        settings_.write(texts::kProxyHostKey, edtProxyHost_->text().toStdString());
        settings_.write(texts::kProxyPortKey, edtProxyPort_->text().toStdString());
    } catch (...) {
        FinishWithError(std::current_exception());
        return;
    }
    cbDirectClick();
    Finish(ModalResult::Ok);
}

// ---- TProxyPasswordForm

TProxyPasswordForm::TProxyPasswordForm(SettingsAccess settings) : TStarterForm(QSize(532, 314), DialogIcon::Padlock) {
    setObjectName(QStringLiteral("TProxyPasswordForm"));
    setWindowTitle(Q(texts::kInternetSettingsCaption));

    auto *group = new QGroupBox(Q(texts::kPasswordGroup), this);
    group->setObjectName(QStringLiteral("grpPassword"));
    group->setGeometry(96, 16, 420, 226);
    lblMessage_ = new QLabel(group);
    lblMessage_->setObjectName(QStringLiteral("lblMessage"));
    lblMessage_->move(16, 32);
    PrepareMessageLabel(lblMessage_, 340, Q(texts::kProxyPasswordFormat));
    const int below = 32 + lblMessage_->height() + 14;
    QLabel *lblUsername = AddLabel(group, "lblUsername", Q(texts::kUsername), QPoint(16, below + 4));
    edtUsername_ = AddEdit(group, "edtUsername", QRect(180, below, 220, kEditHeight), 32);
    QLabel *lblPassword = AddLabel(group, "lblPassword", Q(texts::kPassword), QPoint(16, below + 40));
    edtPassword_ = AddEdit(group, "edtPassword", QRect(180, below + 36, 220, kEditHeight), 32);
    edtPassword_->setEchoMode(QLineEdit::Password);
    edtPassword_->setStyleSheet(QStringLiteral("lineedit-password-character: 42;"));  // "*"
    lblUsername->setBuddy(edtUsername_);
    lblPassword->setBuddy(edtPassword_);

    const int row = 314 - 20 - kButtonHeight;
    QPushButton *btnOk = AddButton("btnOk", texts::kOk, ModalResult::Ok,
                                   QRect(532 - 24 - 2 * kButtonWidth - 12, row, kButtonWidth, kButtonHeight));
    QPushButton *btnCancel = AddButton("btnCancel", texts::kCancel, ModalResult::Cancel,
                                       QRect(532 - 24 - kButtonWidth, row, kButtonWidth, kButtonHeight));
    SetDefaultButton(btnOk);
    SetCancelButton(btnCancel);
    for (QWidget *widget :
         std::initializer_list<QWidget *>{lblUsername, edtUsername_, lblPassword, edtPassword_, btnOk, btnCancel}) {
        MoveWithLabel(widget);
    }
    StretchWithLabel(group);
    SizeMessageLabel(lblMessage_,
                     ToQString(texts::Format(texts::kProxyPasswordFormat, {settings.read("application.title")})));
    edtUsername_->setFocus();
}

std::string TProxyPasswordForm::Username() const { return edtUsername_->text().toStdString(); }
std::string TProxyPasswordForm::Password() const { return edtPassword_->text().toStdString(); }

}  // namespace zolm::starter
