// Blue question mark, orange circle with a cross, blue "i", a globe and a padlock.
#include "starter/ui/dialog_icons.h"

#include <QPainter>
#include <QPainterPath>

namespace zolm::starter {
namespace {

const QColor kBlue(0x2a, 0x6f, 0xc9);
const QColor kOrange(0xf0, 0x8a, 0x24);

void Disc(QPainter &p, const QColor &color) {
    p.setPen(Qt::NoPen);
    QRadialGradient g(18, 16, 30);
    g.setColorAt(0, color.lighter(135));
    g.setColorAt(1, color);
    p.setBrush(g);
    p.drawEllipse(QRectF(2, 2, 44, 44));
}

void Glyph(QPainter &p, const QString &text) {
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(30);
    font.setBold(true);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(QRectF(2, 2, 44, 44), Qt::AlignCenter, text);
}

}  // namespace

QPixmap DialogPicture(DialogIcon icon) {
    QPixmap pixmap(48, 48);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    switch (icon) {
        case DialogIcon::Question:
            Disc(p, kBlue);
            Glyph(p, QStringLiteral("?"));
            break;
        case DialogIcon::Information:
            Disc(p, kBlue);
            Glyph(p, QStringLiteral("i"));
            break;
        case DialogIcon::Error:
            Disc(p, kOrange);
            p.setPen(QPen(Qt::white, 6, Qt::SolidLine, Qt::RoundCap));
            p.drawLine(QPointF(16, 16), QPointF(32, 32));
            p.drawLine(QPointF(32, 16), QPointF(16, 32));
            break;
        case DialogIcon::Globe:
            Disc(p, QColor(0x2f, 0x8f, 0xb0));
            p.setPen(QPen(QColor(255, 255, 255, 200), 2));
            p.setBrush(Qt::NoBrush);
            p.drawEllipse(QRectF(14, 2, 20, 44));
            p.drawLine(QPointF(24, 2), QPointF(24, 46));
            p.drawLine(QPointF(2, 24), QPointF(46, 24));
            p.drawLine(QPointF(6, 13), QPointF(42, 13));
            p.drawLine(QPointF(6, 35), QPointF(42, 35));
            break;
        case DialogIcon::Padlock: {
            p.setPen(QPen(QColor(0x70, 0x70, 0x70), 5));
            p.setBrush(Qt::NoBrush);
            p.drawArc(QRectF(13, 4, 22, 26), 0, 180 * 16);
            p.drawLine(QPointF(13, 17), QPointF(13, 22));
            p.drawLine(QPointF(35, 17), QPointF(35, 22));
            p.setPen(Qt::NoPen);
            p.setBrush(QColor(0xe0, 0xa8, 0x30));
            p.drawRoundedRect(QRectF(6, 21, 36, 25), 4, 4);
            p.setBrush(QColor(0x60, 0x40, 0x10));
            p.drawEllipse(QRectF(21, 28, 6, 6));
            p.drawRect(QRectF(23, 32, 2, 8));
            break;
        }
    }
    return pixmap;
}

}  // namespace zolm::starter
