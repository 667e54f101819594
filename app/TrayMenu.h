#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "detection/RunState.h"

namespace hushwell {

// The tray menu's command ids. The numbers only tell the menu's actions apart (they are the
// program's historical resource ids); nothing stores them.
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

// The entries of the menu shown in a run state: the running menu offers Stop, the paused
// one Start. Any thread.
std::vector<TrayMenuEntry> TrayMenuEntries(RunState state);

// A menu text as a D-Bus menu host shows it: the menu marks its mnemonic with "&" and writes a
// literal "&" as "&&"; the host marks the mnemonic with "_" and writes a literal "_" as "__".
// Only the first mnemonic mark is kept. Works on UTF-8 bytes. Any thread.
std::string DBusMenuLabel(std::string_view menuText);

}  // namespace hushwell
