#pragma once

#include <memory>
#include <utility>

#include "ui/ConfigurationOwner.h"
#include "ui/SettingsWindow.h"

namespace hushwell {

// The configuration owner, kept in a base so that it is made before the window and goes
// after it.
struct ConfigurationOwnerHolder {
    std::unique_ptr<ConfigurationOwner> configuration;
};

// A settings window together with the configuration owner it is made on, as the program has
// them until shutdown: destroying it writes the configuration and then releases the hotkeys.
// User-interface thread only.
class SettingsWindowWithOwner final : private ConfigurationOwnerHolder, public SettingsWindow {
public:
    SettingsWindowWithOwner(ConfigurationOwner::Setup owner, SettingsWindow::Setup window)
        : ConfigurationOwnerHolder{std::make_unique<ConfigurationOwner>(std::move(owner))},
          SettingsWindow(*configuration, std::move(window)) {}
};

}  // namespace hushwell
