#include "ui/OptionIcons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <functional>

namespace hushwell {

namespace {

// Icons are drawn on a 16 x 16 grid and scaled to each pixmap size.
constexpr double kDesignSize = 16.0;
constexpr int kPixmapSizes[] = {16, 20, 24, 32, 40, 48, 64};

const QColor kRecordRed(0xd0, 0x30, 0x30);
const QColor kApplyGreen(0x2e, 0x8b, 0x3e);
const QColor kCancelRed(0xc0, 0x39, 0x2b);
const QColor kDiskBlue(0x2f, 0x6d, 0xb5);
const QColor kOutline(0x40, 0x40, 0x40);

using DrawFunction = std::function<void(QPainter&)>;

QIcon Draw(const DrawFunction& draw) {
    QIcon icon;
    for (int size : kPixmapSizes) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.scale(size / kDesignSize, size / kDesignSize);
        draw(painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

void RecordDot(QPainter& painter, const QRectF& box) {
    painter.setPen(QPen(kRecordRed.darker(130), 0.8));
    painter.setBrush(kRecordRed);
    painter.drawEllipse(box);
}

void Disk(QPainter& painter, const QRectF& box) {
    painter.setPen(QPen(kDiskBlue.darker(140), 0.7));
    painter.setBrush(kDiskBlue);
    painter.drawRoundedRect(box, 0.8, 0.8);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const double w = box.width();
    const double h = box.height();
    painter.drawRect(QRectF(box.left() + w * 0.25, box.top() + h * 0.12, w * 0.5, h * 0.3));
    painter.drawRect(QRectF(box.left() + w * 0.2, box.top() + h * 0.6, w * 0.6, h * 0.28));
}

void Plus(QPainter& painter, const QPointF& centre, double arm) {
    painter.setPen(QPen(Qt::white, 3.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre - QPointF(arm, 0), centre + QPointF(arm, 0));
    painter.drawLine(centre - QPointF(0, arm), centre + QPointF(0, arm));
    painter.setPen(QPen(kApplyGreen, 1.8, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(centre - QPointF(arm, 0), centre + QPointF(arm, 0));
    painter.drawLine(centre - QPointF(0, arm), centre + QPointF(0, arm));
}

void StopAndStart(QPainter& painter) {
    painter.setPen(QPen(kOutline, 0.7));
    painter.setBrush(kDiskBlue);
    painter.drawRect(QRectF(1.5, 4.5, 6, 7));
    QPainterPath play;
    play.moveTo(9, 3.5);
    play.lineTo(15, 8);
    play.lineTo(9, 12.5);
    play.closeSubpath();
    painter.setBrush(kApplyGreen);
    painter.drawPath(play);
}

}  // namespace

QIcon OptionIcons::Apply() {
    return Draw([](QPainter& painter) {
        QPainterPath check;
        check.moveTo(2.5, 8.5);
        check.lineTo(6.5, 12.5);
        check.lineTo(13.5, 3.5);
        painter.setPen(QPen(kApplyGreen, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(check);
    });
}

QIcon OptionIcons::Cancel() {
    return Draw([](QPainter& painter) {
        painter.setPen(QPen(kCancelRed, 2.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        painter.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    });
}

QIcon OptionIcons::ForHotkey(Hotkey hotkey) {
    switch (hotkey) {
        case kRecordAndSave:
            return Draw([](QPainter& painter) {
                RecordDot(painter, QRectF(1, 1, 9, 9));
                Disk(painter, QRectF(7.5, 7.5, 7.5, 7.5));
            });
        case kRegister:
            return Draw([](QPainter& painter) {
                RecordDot(painter, QRectF(1, 1, 9, 9));
                Plus(painter, QPointF(11.5, 11.5), 3.2);
            });
        case kRecord:
            return Draw([](QPainter& painter) { RecordDot(painter, QRectF(2.5, 2.5, 11, 11)); });
        case kStopStart:
            return Draw(StopAndStart);
    }
    return {};
}

}  // namespace hushwell
