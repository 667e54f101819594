#pragma once

#include <QIcon>

namespace hushwell {

// The program's icon, a loudspeaker crossed by a stroke, drawn at the sizes a tray and a
// dialog ask for (the same drawing as resources/hushwell.svg, which the launcher uses).
// User-interface thread.
class ProgramIcon {
public:
    static QIcon Make();
};

}  // namespace hushwell
