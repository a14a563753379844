// The built-in "Opus" skin: warm light surfaces, dark grey text, rounded buttons with a soft gradient
// and a blue focus ring. No animations; plain push buttons are skinned as well. It sets no fonts or
// sizes, so the label sizing rule measures exactly what is shown.
#include "starter/ui/skin_manager_form.h"

#include <QApplication>

namespace zolm::starter {
namespace {

const char kOpusStyleSheet[] = R"(
QDialog { background-color: #f4f1ea; }
QLabel, QRadioButton { color: #414141; background: transparent; }
QGroupBox {
  color: #414141; border: 1px solid #c9c1b0; border-radius: 6px; margin-top: 10px; padding-top: 6px;
  background-color: #faf8f3;
}
QGroupBox::title { subcontrol-origin: margin; left: 10px; padding: 0 2px; }
QLineEdit {
  color: #414141; background: #ffffff; border: 1px solid #b9b09c; border-radius: 3px; padding: 1px 4px;
  selection-background-color: #3d7cc9; lineedit-password-character: 42;
}
QRadioButton::indicator {
  width: 13px; height: 13px; border-radius: 7px; border: 1px solid #8a8272; background: #ffffff;
}
QRadioButton::indicator:checked {
  background: qradialgradient(cx:0.5, cy:0.5, radius:0.5, fx:0.5, fy:0.5,
                              stop:0 #3d7cc9, stop:0.45 #3d7cc9, stop:0.6 #ffffff, stop:1 #ffffff);
}
QRadioButton::indicator:disabled { background: #ece8df; }
QLineEdit:focus { border: 1px solid #3d7cc9; }
QLineEdit:disabled { background: #ece8df; color: #9a9488; }
QLabel:disabled, QRadioButton:disabled { color: #9a9488; }
QPushButton {
  color: #2f2f2f; border: 1px solid #a79f8c; border-radius: 5px; padding: 3px 10px;
  background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #e4ddcd);
}
QPushButton:hover { background: qlineargradient(x1:0, y1:0, x2:0, y2:1, stop:0 #ffffff, stop:1 #d8e6f6); }
QPushButton:pressed { background: #cfdff2; }
QPushButton:default { border: 2px solid #3d7cc9; }
QPushButton:focus { border: 2px solid #3d7cc9; }
QPushButton:disabled { color: #9a9488; }
)";

}  // namespace

QString BuiltInSkinStyleSheet(const QString &name) {
    if (name == QLatin1String(kBuiltInSkinName)) return QString::fromLatin1(kOpusStyleSheet);
    return {};
}

TSkinManager::TSkinManager(QObject *parent)
    : QObject(parent), requested_(QString::fromLatin1(kBuiltInSkinName)), current_(requested_) {
    setObjectName(QStringLiteral("sSkinManager1"));
    Apply();
}

TSkinManager::~TSkinManager() {
    if (qApp != nullptr) qApp->setStyleSheet(QString());
}

void TSkinManager::SetActive(bool active) {
    active_ = active;
    Apply();
}

void TSkinManager::SetSkinName(const QString &name) {
    requested_ = name;
    if (!BuiltInSkinStyleSheet(name).isEmpty()) current_ = name;
    Apply();
}

QString TSkinManager::ActiveSkin() const { return active_ ? current_ : QString(); }

void TSkinManager::Apply() {
    if (qApp == nullptr) return;
    qApp->setStyleSheet(active_ ? BuiltInSkinStyleSheet(current_) : QString());
}

TSkinManagerForm::TSkinManagerForm() : manager_(new TSkinManager(this)) {
    setObjectName(QStringLiteral("TSkinManagerForm"));
}

}  // namespace zolm::starter
