#pragma once

#include <string>

namespace hushwell {

// The per-user application data folder: $XDG_DATA_HOME/Hushwell, where XDG_DATA_HOME
// defaults to ~/.local/share (a relative XDG_DATA_HOME is ignored, as the XDG rules say).
// It holds "triggers.xml", the "triggers" sub-folder, the configuration file and the log.
std::string ApplicationDataFolder();

}  // namespace hushwell
