#include "ui/IconCanvas.h"

#include <QPixmap>

namespace hushwell {

namespace {

constexpr int kPixmapSizes[] = {16, 20, 24, 32, 40, 48, 64};

}  // namespace

QIcon IconCanvas::Draw(const DrawFunction& draw) {
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

}  // namespace hushwell
