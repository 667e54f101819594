#include "base/ApplicationDataFolder.h"

#include <cstdlib>
#include <string_view>

namespace hushwell {

namespace {

constexpr std::string_view kProductFolder = "Hushwell";

}  // namespace

std::string ApplicationDataFolder() {
    std::string dataHome;
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg != nullptr && xdg[0] == '/') {
        dataHome = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        dataHome = std::string(home) + "/.local/share";
    } else {
        dataHome = ".local/share";
    }
    return dataHome + "/" + std::string(kProductFolder);
}

}  // namespace hushwell
