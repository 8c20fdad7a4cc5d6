// A small drawing of two line ends joined by a link: the gateway between
// RS-232 and RS-485.
#include "ui/AppIcon.h"

#include <QPainter>
#include <QPixmap>

QIcon MakeAppIcon() {
    QIcon icon;
    for (int size : {16, 32, 48}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        const qreal s = size / 16.0;
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 70, 140));
        p.drawRoundedRect(QRectF(0.5 * s, 4 * s, 5.5 * s, 8 * s), 1.2 * s, 1.2 * s);
        p.setBrush(QColor(0, 128, 0));
        p.drawRoundedRect(QRectF(10 * s, 4 * s, 5.5 * s, 8 * s), 1.2 * s, 1.2 * s);
        p.setPen(QPen(QColor(60, 60, 60), 1.6 * s));
        p.drawLine(QPointF(6 * s, 8 * s), QPointF(10 * s, 8 * s));
        icon.addPixmap(pixmap);
    }
    return icon;
}
