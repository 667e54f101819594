#include "ui/Configuration.h"

#include "persistence/ConfigFile.h"

namespace hushwell {

// A file that exists but cannot be read is moved aside (and logged) before anything can
// write over it, so the user's settings are not lost.
void Configuration::Load(const std::string& path) {
    ConfigFile::LoadOrSetAside(settings, path);
    hotkeys.LoadFrom(settings);
}

bool Configuration::Save(const std::string& path) const {
    Settings written = settings;
    hotkeys.StoreTo(written);
    return ConfigFile::Save(written, path);
}

}  // namespace hushwell
