#pragma once

#include <string_view>
#include <vector>

namespace hushwell {

// The tray window's run states, which are also the ids of the menu shown for each.
enum class RunState { Running = 130, Stopped = 133 };

// The tray menu's command ids.
enum TrayCommand {
    kCommandToolsSettings = 32775,
    kCommandStop = 32776,
    kCommandStart = 32777,
    kCommandHelp = 32778,
    kCommandAbout = 57664,
    kCommandExit = 57665,
};

// One entry of a tray menu; a separator has no text and command 0.
struct TrayMenuEntry {
    std::string_view text;
    int command;
};

// The entries of the menu shown in a run state: the running menu offers Stop, the stopped
// one Start. Any thread.
std::vector<TrayMenuEntry> TrayMenuEntries(RunState state);

}  // namespace hushwell
