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

}  // namespace hushwell
