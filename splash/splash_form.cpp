// The splash window: picture, placement, the 5000 ms keep-alive check and the 250 ms hide/show check.
#include "splash/splash_form.h"

#include <QApplication>
#include <QFileInfo>
#include <QImageReader>
#include <QKeyEvent>
#include <QPainter>
#include <QScreen>
#include <csignal>
#include <cstdio>
#include <exception>

namespace {

volatile std::sig_atomic_t terminationRequested = 0;

void RequestTermination(int) { terminationRequested = 1; }

constexpr int kKeepAliveIntervalMs = 5000;
constexpr int kHideShowIntervalMs = 250;
const char kBuiltInPicture[] = ":/splash.jpg";

std::string EventName(const std::string &prefix, const char *suffix) { return prefix + suffix; }

// The picture of argument 2 when it names a readable picture file; otherwise the built-in one.
QPixmap LoadPicture(const QString &path) {
    if (!path.isEmpty() && QFileInfo(path).isFile()) {
        QImageReader reader(path);
        reader.setDecideFormatFromContent(true);
        QImage image = reader.read();
        if (!image.isNull()) return QPixmap::fromImage(image);
    }
    return QPixmap(kBuiltInPicture);
}

}  // namespace

void InstallTerminationHandlers() {
    struct sigaction action {};
    action.sa_handler = RequestTermination;
    sigemptyset(&action.sa_mask);
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

bool SplashTerminationRequested() { return terminationRequested != 0; }

TForm1::TForm1(const std::string &prefix, const QString &picturePath, bool debug)
    : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      prefix_(prefix),
      debug_(debug) {
    picture_ = LoadPicture(picturePath);
    // Client size = picture size, in device-independent pixels.
    setFixedSize(picture_.deviceIndependentSize().toSize());
    if (QScreen *screen = QGuiApplication::primaryScreen()) {
        move(screen->availableGeometry().center() - rect().center());
    }
    setFocusPolicy(Qt::StrongFocus);

    OpenEvents();

    keepAlive_.setInterval(kKeepAliveIntervalMs);
    connect(&keepAlive_, &QTimer::timeout, this, &TForm1::KeepAliveTimer);
    keepAlive_.start();
    hideShow_.setInterval(kHideShowIntervalMs);
    connect(&hideShow_, &QTimer::timeout, this, &TForm1::HideShowTimer);
    hideShow_.start();
}

TForm1::~TForm1() {
    for (const char *suffix : {"-HIDE", "-SHOW", "-KEEP-ALIVE"}) {
        try {
            zolm::platform::NamedEvent::Remove(EventName(prefix_, suffix));
        } catch (const std::exception &) {
            // Nothing to remove when the name cannot even be formed; the splash is ending anyway.
        }
    }
}

// The keep-alive event counts only when someone created it before us; one we create ourselves
// means no starter is there, so the first check ends the splash.
void TForm1::OpenEvents() {
    using zolm::platform::NamedEvent;
    try {
        hideEvent_ = NamedEvent::CreateOrOpen(EventName(prefix_, "-HIDE"), false);
        showEvent_ = NamedEvent::CreateOrOpen(EventName(prefix_, "-SHOW"), false);
        bool existed = false;
        auto keepAlive = NamedEvent::CreateOrOpen(EventName(prefix_, "-KEEP-ALIVE"), false, &existed);
        if (existed) keepAliveEvent_ = std::move(keepAlive);
    } catch (const std::exception &e) {
        std::fprintf(stderr, "splash: %s\n", e.what());
    }
}

void TForm1::KeepAliveTimer() {
    if (!keepAliveEvent_ || !keepAliveEvent_->Test()) CloseSplash("keep-alive missing");
}

// A hide and a show within one interval end with the window shown.
void TForm1::HideShowTimer() {
    if (SplashTerminationRequested()) {
        CloseSplash("terminated");
        return;
    }
    if (hideEvent_ && hideEvent_->Test()) hide();
    if (showEvent_ && showEvent_->Test()) {
        show();
        raise();
        activateWindow();
    }
}

void TForm1::CloseSplash(const char *why) {
    if (closing_) return;
    closing_ = true;
    keepAlive_.stop();
    hideShow_.stop();
    if (debug_) std::fprintf(stderr, "splash: closed (%s)\n", why);
    close();
    QCoreApplication::exit(0);
}

void TForm1::paintEvent(QPaintEvent *) {
    QPainter painter(this);
    painter.drawPixmap(0, 0, picture_);
}

void TForm1::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape) {
        CloseSplash("Escape");
        return;
    }
    QWidget::keyPressEvent(event);
}

void TForm1::showEvent(QShowEvent *event) {
    QWidget::showEvent(event);
    if (debug_) std::fprintf(stderr, "splash: shown %dx%d\n", width(), height());
}

void TForm1::hideEvent(QHideEvent *event) {
    QWidget::hideEvent(event);
    if (debug_ && !closing_) std::fprintf(stderr, "splash: hidden\n");
}
