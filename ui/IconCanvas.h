#pragma once

#include <QIcon>
#include <QPainter>
#include <functional>

namespace hushwell {

// The program's drawn icons: a face painted on a 16 x 16 design grid, rendered into a pixmap at
// each size a desktop asks for, so it stays sharp at any scale. User-interface thread.
class IconCanvas {
public:
    static constexpr double kDesignSize = 16.0;

    using DrawFunction = std::function<void(QPainter&)>;

    // Paints `draw` (antialiased, in design units) into every pixmap size of the icon.
    static QIcon Draw(const DrawFunction& draw);
};

}  // namespace hushwell
