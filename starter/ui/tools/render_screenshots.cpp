// zolm_ui_screenshots <folder>: renders every dialog of the starter and the splash, as users see
// them (Opus skin, Russian texts), to PNG files for the README. Each dialog gets a plain title bar
// with its caption, since a grab shows only the client area.
#include <QApplication>
#include <QDir>
#include <QLineEdit>
#include <QPainter>
#include <QRadioButton>
#include <cstdio>
#include <map>
#include <string>

#include "splash/splash_form.h"
#include "starter/ui/message_forms.h"
#include "starter/ui/proxy_forms.h"
#include "starter/ui/skin_manager_form.h"

namespace {

using namespace zolm::starter;

QImage WithTitleBar(QWidget &form) {
    form.show();
    QCoreApplication::processEvents();
    const QPixmap client = form.grab();
    constexpr int kBar = 30;
    QImage framed(client.width() + 2, client.height() + kBar + 1, QImage::Format_RGB32);
    QPainter p(&framed);
    p.fillRect(framed.rect(), QColor(0x6b, 0x64, 0x58));
    QLinearGradient bar(0, 0, 0, kBar);
    bar.setColorAt(0, QColor(0x5d, 0x86, 0xb8));
    bar.setColorAt(1, QColor(0x3d, 0x6c, 0xa4));
    p.fillRect(QRect(1, 1, client.width(), kBar - 1), bar);
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(14);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRect(1, 1, client.width(), kBar - 1), Qt::AlignCenter, form.windowTitle());
    p.drawText(QRect(client.width() - 30, 1, 24, kBar - 1), Qt::AlignCenter, QStringLiteral("✕"));
    p.drawPixmap(1, kBar, client);
    p.end();
    form.hide();
    return framed;
}

bool Save(const QImage &image, const QString &folder, const char *name) {
    const QString path = folder + QLatin1Char('/') + QLatin1String(name);
    if (!image.save(path, "PNG")) {
        std::fprintf(stderr, "zolm_ui_screenshots: cannot write %s\n", path.toLocal8Bit().constData());
        return false;
    }
    std::printf("%s %dx%d\n", path.toLocal8Bit().constData(), image.width(), image.height());
    return true;
}

}  // namespace

int main(int argc, char **argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: zolm_ui_screenshots <folder>\n");
        return 2;
    }
    QApplication app(argc, argv);
    const QString folder = QString::fromLocal8Bit(argv[1]);
    QDir().mkpath(folder);
    TSkinManagerForm skin;

    std::map<std::string, std::string, std::less<>> values = {
        {"application.title", "Квиллмур Онлайн"},
        {"probe.url", "https://update.quillmoor.example/probe.txt"},
        {"proxy.type", "INTERNET_OPEN_TYPE_PROXY"},
        {"proxy.host", "proxy.office.local"},
        {"proxy.port", "3128"}};
    SettingsAccess settings{[&](std::string_view key) {
                                auto it = values.find(key);
                                return it == values.end() ? std::string() : it->second;
                            },
                            [](std::string_view, std::string_view) {}};
    bool ok = true;

    TConfirmationForm question(
        "На сервере доступна новая версия приложения \"Квиллмур Онлайн\", скачать обновление (1834K) и "
        "установить новую версию ?");
    ok &= Save(WithTitleBar(question), folder, "confirmation.png");

    TErrorForm error(
        "При запуске приложения \"Квиллмур Онлайн\" произошла ошибка:\r\n\r\nВызов CreateProcess(\"/opt/quillmoor/"
        "VERSIONS/2.4.1/quillmoor\") вернул ошибку 2: No such file or directory");
    ok &= Save(WithTitleBar(error), folder, "error.png");

    TInformationForm information;
    information.SetCaption("Обновление версии приложения");
    information.SetText("Новая версия приложения \"Квиллмур Онлайн\" успешно установлена.");
    ok &= Save(WithTitleBar(information), folder, "information.png");

    TInternetErrorForm internet(settings, "Вызов HttpSendRequest вернул ошибку 12029: Couldn't connect to server");
    ok &= Save(WithTitleBar(internet), folder, "internet_error.png");

    TProxySettingsForm proxy(settings);
    ok &= Save(WithTitleBar(proxy), folder, "proxy_settings.png");

    TProxyPasswordForm password(settings);
    password.findChild<QLineEdit *>(QStringLiteral("edtUsername"))->setText(QStringLiteral("ivanov"));
    password.findChild<QLineEdit *>(QStringLiteral("edtPassword"))->setText(QStringLiteral("secret"));
    ok &= Save(WithTitleBar(password), folder, "proxy_password.png");

    TForm1 splash("ZOLM-SCREENSHOT-" + std::to_string(QCoreApplication::applicationPid()), QString(), false);
    splash.show();
    QCoreApplication::processEvents();
    ok &= Save(splash.grab().toImage(), folder, "splash.png");
    splash.hide();
    return ok ? 0 : 1;
}
