#pragma once

#include <QIcon>

namespace hushwell {

// The sound editor's button faces, drawn in code so they stay sharp at every scale. Disabled
// looks come from QIcon. User-interface thread only.
class CaptureIcons {
public:
    enum Face {
        kRecord,
        kStop,
        kPlay,
        kPause,
        kOpen,
        kSave,
        kZoom,
        kZoomOut,
        kRecordAndSave,
        kRegister,
    };

    static QIcon For(Face face);
};

}  // namespace hushwell
