// The starter dialogs' shared look and modal loop.
#include "starter/ui/starter_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QEventLoop>
#include <QKeyEvent>
#include <QScreen>

#include "starter/dialogs/dialog_texts.h"

namespace zolm::starter {

QString ToQString(const std::string &text) { return QString::fromStdString(texts::UnixLineBreaks(text)); }

TStarterForm::TStarterForm(QSize clientSize, DialogIcon icon)
    : QDialog(nullptr, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                           Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
    QFont font(QStringLiteral("Verdana"));
    font.setPixelSize(15);
    setFont(font);
    QPalette palette = this->palette();
    const QColor darkGrey(0x41, 0x41, 0x41);
    palette.setColor(QPalette::WindowText, darkGrey);
    palette.setColor(QPalette::Text, darkGrey);
    setPalette(palette);
    setFixedSize(clientSize);

    auto *picture = new QLabel(this);
    picture->setObjectName(QStringLiteral("imgIcon"));
    picture->setPixmap(DialogPicture(icon));
    picture->setGeometry(24, 24, 48, 48);
}

QPushButton *TStarterForm::AddButton(const char *name, const char *text, ModalResult result, QRect geometry) {
    auto *button = new QPushButton(QString::fromUtf8(text), this);
    button->setObjectName(QString::fromLatin1(name));
    button->setGeometry(geometry);
    button->setAutoDefault(false);
    if (result != ModalResult::None) {
        connect(button, &QPushButton::clicked, this, [this, result] { Finish(result); });
    }
    return button;
}

void TStarterForm::SetDefaultButton(QPushButton *button) {
    defaultButton_ = button;
    button->setDefault(true);
    button->setFocus();
}

QLabel *TStarterForm::AddLabel(QWidget *parent, const char *name, const QString &text, QPoint position) {
    auto *label = new QLabel(text, parent);
    label->setObjectName(QString::fromLatin1(name));
    UseFormLook(label);
    label->setTextFormat(Qt::PlainText);
    label->move(position);
    label->adjustSize();
    return label;
}

void TStarterForm::UseFormLook(QWidget *widget) const {
    widget->setFont(font());
    widget->setPalette(palette());
}

void TStarterForm::PrepareMessageLabel(QLabel *label, int width, const QString &designText) {
    // Texts come from servers and settings: never read them as rich text.
    UseFormLook(label);
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(true);
    label->ensurePolished();
    label->setText(designText);
    label->resize(width, label->heightForWidth(width));
}

void TStarterForm::SizeMessageLabel(QLabel *label, const QString &text) {
    const int width = label->width();
    const int oldHeight = label->height();
    label->setText(text);
    const int newHeight = label->heightForWidth(width);
    label->resize(width, newHeight);
    const int delta = newHeight - oldHeight;
    if (delta == 0) return;
    for (QWidget *widget : moving_) widget->move(widget->x(), widget->y() + delta);
    for (QWidget *widget : stretching_) widget->resize(widget->width(), widget->height() + delta);
    setFixedSize(this->width(), height() + delta);
}

void TStarterForm::Finish(ModalResult result) {
    result_ = result;
    if (loop_ != nullptr) loop_->exit();
}

void TStarterForm::FinishWithError(std::exception_ptr error) {
    error_ = error;
    Finish(ModalResult::Cancel);
}

ModalResult TStarterForm::ShowModal() {
    // An own loop rather than QDialog::exec(): a dialog that hides itself for a moment (the
    // connection error dialog around the settings dialog) must stay in its loop.
    result_ = ModalResult::None;
    error_ = nullptr;
    setWindowModality(Qt::ApplicationModal);
    CentreOnScreen();
    show();
    QEventLoop loop;
    loop_ = &loop;
    if (result_ == ModalResult::None) loop.exec(QEventLoop::DialogExec);
    loop_ = nullptr;
    hide();
    if (error_) std::rethrow_exception(error_);
    return result_;
}

void TStarterForm::CentreOnScreen() {
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
}

void TStarterForm::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (cancelButton_ != nullptr) {
            cancelButton_->click();
        } else {
            Finish(ModalResult::Cancel);
        }
        return;
    }
    if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) && event->modifiers() == Qt::NoModifier) {
        // Enter presses the focused button, else the default one.
        auto *focused = qobject_cast<QPushButton *>(focusWidget());
        QPushButton *target = focused != nullptr ? focused : defaultButton_;
        if (target != nullptr && target->isEnabled()) target->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TStarterForm::closeEvent(QCloseEvent *event) {
    event->ignore();  // ShowModal hides the dialog when its loop ends
    Finish(ModalResult::Cancel);
}

void TStarterForm::showEvent(QShowEvent *event) {
    QDialog::showEvent(event);
    // The starter has no other window the user clicked: come to the front by ourselves.
    raise();
    activateWindow();
}

void TStarterForm::reject() { Finish(ModalResult::Cancel); }

}  // namespace zolm::starter
