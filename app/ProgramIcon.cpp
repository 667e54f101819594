#include "app/ProgramIcon.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

namespace hushwell {

namespace {

constexpr int kDesignSize = 16;
const QColor kBlue(0x2f, 0x6d, 0xb5);
const QColor kRed(0xc0, 0x39, 0x2b);

QPixmap Draw(int size) {
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(static_cast<double>(size) / kDesignSize, static_cast<double>(size) / kDesignSize);
    QPainterPath speaker;
    speaker.moveTo(2, 6);
    speaker.lineTo(5, 6);
    speaker.lineTo(9, 2.5);
    speaker.lineTo(9, 13.5);
    speaker.lineTo(5, 10);
    speaker.lineTo(2, 10);
    speaker.closeSubpath();
    painter.fillPath(speaker, kBlue);
    painter.setPen(QPen(kBlue, 1.4, Qt::SolidLine, Qt::RoundCap));
    painter.drawArc(QRectF(8.5, 5.5, 3, 5), -70 * 16, 140 * 16);
    painter.setPen(QPen(kRed, 1.6, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(10.5, 13.5), QPointF(14.5, 2.5));
    return pixmap;
}

}  // namespace

QIcon ProgramIcon::Make() {
    QIcon icon;
    for (int size : {16, 22, 24, 32, 48, 64}) {
        icon.addPixmap(Draw(size));
    }
    return icon;
}

}  // namespace hushwell
