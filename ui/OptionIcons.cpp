#include "ui/OptionIcons.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/IconCanvas.h"

namespace hushwell {

namespace {

const QColor kRecordRed(0xd0, 0x30, 0x30);
const QColor kApplyGreen(0x2e, 0x8b, 0x3e);
const QColor kCancelRed(0xc0, 0x39, 0x2b);
const QColor kDiskBlue(0x2f, 0x6d, 0xb5);
const QColor kOutline(0x40, 0x40, 0x40);

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
    return IconCanvas::Draw([](QPainter& painter) {
        QPainterPath check;
        check.moveTo(2.5, 8.5);
        check.lineTo(6.5, 12.5);
        check.lineTo(13.5, 3.5);
        painter.setPen(QPen(kApplyGreen, 2.6, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
        painter.drawPath(check);
    });
}

QIcon OptionIcons::Cancel() {
    return IconCanvas::Draw([](QPainter& painter) {
        painter.setPen(QPen(kCancelRed, 2.6, Qt::SolidLine, Qt::RoundCap));
        painter.drawLine(QPointF(3.5, 3.5), QPointF(12.5, 12.5));
        painter.drawLine(QPointF(12.5, 3.5), QPointF(3.5, 12.5));
    });
}

QIcon OptionIcons::ForHotkey(Hotkey hotkey) {
    switch (hotkey) {
        case kRecordAndSave:
            return IconCanvas::Draw([](QPainter& painter) {
                RecordDot(painter, QRectF(1, 1, 9, 9));
                Disk(painter, QRectF(7.5, 7.5, 7.5, 7.5));
            });
        case kRegister:
            return IconCanvas::Draw([](QPainter& painter) {
                RecordDot(painter, QRectF(1, 1, 9, 9));
                Plus(painter, QPointF(11.5, 11.5), 3.2);
            });
        case kRecord:
            return IconCanvas::Draw(
                [](QPainter& painter) { RecordDot(painter, QRectF(2.5, 2.5, 11, 11)); });
        case kStopStart:
            return IconCanvas::Draw(StopAndStart);
    }
    return {};
}

}  // namespace hushwell
