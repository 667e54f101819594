#pragma once

#include <QIcon>

namespace hushwell {

// The options page's icons, drawn in code so they stay sharp at every scale: Apply and
// Cancel, and one icon per hotkey of the hotkey list. Disabled looks come from QIcon.
// User-interface thread only.
class OptionIcons {
public:
    enum Hotkey { kRecordAndSave = 0, kRegister = 1, kRecord = 2, kStopStart = 3 };

    static QIcon Apply();
    static QIcon Cancel();
    static QIcon ForHotkey(Hotkey hotkey);
};

}  // namespace hushwell
