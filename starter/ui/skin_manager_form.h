// TSkinManagerForm: the hidden holder of the dialogs' skin. Its skin manager knows exactly one
// built-in skin, the style sheet "Opus (internal)", which is in force from the holder's creation
// until it is destroyed or skinning is switched off.
#pragma once

#include <QObject>
#include <QString>
#include <string>

#include "starter/stages.h"

namespace zolm::starter {

inline constexpr char kBuiltInSkinName[] = "Opus (internal)";

// The skin engine: applies a named built-in skin to every window of the application.
class TSkinManager : public QObject {
    Q_OBJECT
public:
    explicit TSkinManager(QObject *parent);
    ~TSkinManager() override;

    // Switches skinning on or off (off: the platform's plain look).
    void SetActive(bool active);
    bool Active() const { return active_; }
    // Selects a skin by its full name. A name that matches no built-in skin leaves the skin in force
    // (the engine's fallback), so the dialogs never lose their look.
    void SetSkinName(const QString &name);
    // The requested name, and the skin actually in force (empty when skinning is off).
    QString SkinName() const { return requested_; }
    QString ActiveSkin() const;

private:
    void Apply();

    bool active_ = true;
    QString requested_;
    QString current_;
};

// The start-up sequence's skin holder. Destroying it ends the skin.
class TSkinManagerForm : public QObject, public SkinHolder {
    Q_OBJECT
public:
    // Needs the GUI toolkit (a QApplication) to exist; created but never shown.
    TSkinManagerForm();

    TSkinManager *sSkinManager1() const { return manager_; }
    void DisableSkinning() override { manager_->SetActive(false); }
    void SelectSkin(const std::string &name) override { manager_->SetSkinName(QString::fromStdString(name)); }

private:
    TSkinManager *manager_;
};

// The style sheet of a built-in skin; empty for an unknown name.
QString BuiltInSkinStyleSheet(const QString &name);

}  // namespace zolm::starter
