#include "app/TrayMenu.h"

namespace hushwell {

std::vector<TrayMenuEntry> TrayMenuEntries(RunState state) {
    const TrayMenuEntry stopStart = state == RunState::Running
                                        ? TrayMenuEntry{"Stop(&S)", kCommandStop}
                                        : TrayMenuEntry{"Start(&S)", kCommandStart};
    return {
        {"Tools && Settings(&T)", kCommandToolsSettings},
        stopStart,
        {"Help(&H)", kCommandHelp},
        {"About(&A)", kCommandAbout},
        {"", 0},
        {"Exit(&X)", kCommandExit},
    };
}

std::string DBusMenuLabel(std::string_view menuText) {
    std::string label;
    label.reserve(menuText.size() + 1);
    bool mnemonicSeen = false;
    for (std::size_t i = 0; i < menuText.size(); ++i) {
        const char c = menuText[i];
        if (c == '_') {
            label += "__";
        } else if (c != '&' || i + 1 == menuText.size()) {
            label += c;  // a trailing "&" has nothing to mark and stays as written
        } else if (menuText[i + 1] == '&') {
            label += '&';
            ++i;
        } else if (!mnemonicSeen) {
            label += '_';
            mnemonicSeen = true;
        }
    }
    return label;
}

}  // namespace hushwell
