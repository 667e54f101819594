#include "ui/CaptureIcons.h"

#include <QPainter>
#include <QPainterPath>

#include "ui/IconCanvas.h"

namespace hushwell {

namespace {

const QColor kRecordRed(0xd0, 0x30, 0x30);
const QColor kTransport(0x30, 0x30, 0x38);
const QColor kPlayGreen(0x2e, 0x8b, 0x3e);
const QColor kDiskBlue(0x2f, 0x6d, 0xb5);
const QColor kFolderYellow(0xe0, 0xb0, 0x40);
const QColor kLens(0xdd, 0xe8, 0xf4);

void Fill(QPainter& painter, const QColor& colour) {
    painter.setPen(QPen(colour.darker(140), 0.7));
    painter.setBrush(colour);
}

void RecordDot(QPainter& painter, const QRectF& box) {
    Fill(painter, kRecordRed);
    painter.drawEllipse(box);
}

void Disk(QPainter& painter, const QRectF& box) {
    Fill(painter, kDiskBlue);
    painter.drawRoundedRect(box, 0.8, 0.8);
    painter.setPen(Qt::NoPen);
    painter.setBrush(Qt::white);
    const double w = box.width();
    const double h = box.height();
    painter.drawRect(QRectF(box.left() + w * 0.25, box.top() + h * 0.12, w * 0.5, h * 0.3));
    painter.drawRect(QRectF(box.left() + w * 0.2, box.top() + h * 0.6, w * 0.6, h * 0.28));
}

void Magnifier(QPainter& painter, bool plus) {
    painter.setPen(QPen(kTransport, 2.2, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(10.0, 10.0), QPointF(14.5, 14.5));
    painter.setPen(QPen(kTransport, 1.3));
    painter.setBrush(kLens);
    painter.drawEllipse(QPointF(6.5, 6.5), 5.0, 5.0);
    painter.setPen(QPen(kTransport, 1.4, Qt::SolidLine, Qt::RoundCap));
    painter.drawLine(QPointF(4.2, 6.5), QPointF(8.8, 6.5));
    if (plus) {
        painter.drawLine(QPointF(6.5, 4.2), QPointF(6.5, 8.8));
    }
}

void Triangle(QPainter& painter, const QRectF& box) {
    QPainterPath path;
    path.moveTo(box.topLeft());
    path.lineTo(box.right(), box.center().y());
    path.lineTo(box.bottomLeft());
    path.closeSubpath();
    painter.drawPath(path);
}

void DrawFace(QPainter& painter, CaptureIcons::Face face) {
    switch (face) {
        case CaptureIcons::kRecord:
            RecordDot(painter, QRectF(2.5, 2.5, 11.0, 11.0));
            break;
        case CaptureIcons::kStop:
            Fill(painter, kTransport);
            painter.drawRoundedRect(QRectF(3.0, 3.0, 10.0, 10.0), 1.0, 1.0);
            break;
        case CaptureIcons::kPlay:
            Fill(painter, kPlayGreen);
            Triangle(painter, QRectF(3.5, 2.5, 10.0, 11.0));
            break;
        case CaptureIcons::kPause:
            Fill(painter, kTransport);
            painter.drawRect(QRectF(3.5, 3.0, 3.2, 10.0));
            painter.drawRect(QRectF(9.3, 3.0, 3.2, 10.0));
            break;
        case CaptureIcons::kOpen: {
            Fill(painter, kFolderYellow);
            QPainterPath folder;
            folder.moveTo(1.5, 3.5);
            folder.lineTo(6.0, 3.5);
            folder.lineTo(7.5, 5.0);
            folder.lineTo(14.5, 5.0);
            folder.lineTo(14.5, 13.5);
            folder.lineTo(1.5, 13.5);
            folder.closeSubpath();
            painter.drawPath(folder);
            painter.setBrush(kFolderYellow.lighter(125));
            painter.drawRect(QRectF(1.5, 7.0, 13.0, 6.5));
            break;
        }
        case CaptureIcons::kSave:
            Disk(painter, QRectF(2.0, 2.0, 12.0, 12.0));
            break;
        case CaptureIcons::kZoom:
            Magnifier(painter, true);
            break;
        case CaptureIcons::kZoomOut:
            Magnifier(painter, false);
            break;
        case CaptureIcons::kRecordAndSave:
            RecordDot(painter, QRectF(1.0, 1.0, 9.0, 9.0));
            Disk(painter, QRectF(7.5, 7.5, 8.0, 8.0));
            break;
        case CaptureIcons::kRegister: {
            // A list with a new row being added.
            painter.setPen(QPen(kTransport, 1.4, Qt::SolidLine, Qt::RoundCap));
            for (double y : {3.0, 6.5, 10.0}) {
                painter.drawLine(QPointF(1.5, y), QPointF(8.5, y));
            }
            painter.setPen(QPen(kPlayGreen, 2.2, Qt::SolidLine, Qt::RoundCap));
            painter.drawLine(QPointF(12.0, 8.0), QPointF(12.0, 15.0));
            painter.drawLine(QPointF(8.5, 11.5), QPointF(15.5, 11.5));
            break;
        }
    }
}

}  // namespace

QIcon CaptureIcons::For(Face face) {
    return IconCanvas::Draw([face](QPainter& painter) { DrawFace(painter, face); });
}

}  // namespace hushwell
