// TForm1 of splashU: the one borderless, always-on-top window of the splash program, steered only by
// the three named events "<prefix>-HIDE", "<prefix>-SHOW" and "<prefix>-KEEP-ALIVE".
#pragma once

#include <QPixmap>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <optional>
#include <string>

#include "platform/named_objects.h"

class TForm1 : public QWidget {
    Q_OBJECT
public:
    // prefix: argument 1 (the starter's SplashGuid); picturePath: argument 2, may be empty.
    // debug: report every show/hide and the ending on stderr (ZOLM_SPLASH_DEBUG, for tests).
    TForm1(const std::string &prefix, const QString &picturePath, bool debug);
    // Removes the three event names: nothing of the splash outlives it.
    ~TForm1() override;

    // Ends the program with exit code 0 (Escape, missing keep-alive, a termination request).
    void CloseSplash(const char *why);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    void KeepAliveTimer();
    void HideShowTimer();
    void OpenEvents();

    std::string prefix_;
    bool debug_;
    QPixmap picture_;
    QTimer keepAlive_;
    QTimer hideShow_;
    std::optional<zolm::platform::NamedEvent> hideEvent_;
    std::optional<zolm::platform::NamedEvent> showEvent_;
    std::optional<zolm::platform::NamedEvent> keepAliveEvent_;  // absent: nobody keeps the splash alive
    bool closing_ = false;
};

// SIGTERM and SIGINT set a flag that the 250 ms check reads: the splash then closes cleanly and
// removes its events.
void InstallTerminationHandlers();
bool SplashTerminationRequested();
