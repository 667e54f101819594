// Loads arbitrary bytes as a configuration file. The written form of what was read must load
// back and, once rates have taken their reading value, write the same text again.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "persistence/ConfigFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using hushwell::ConfigFile;
    using hushwell::Settings;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Settings settings;
    if (!ConfigFile::LoadText(settings, text)) {
        return 0;
    }
    Settings second;
    if (!ConfigFile::LoadText(second, ConfigFile::BuildText(settings))) {
        std::abort();
    }
    const std::string secondText = ConfigFile::BuildText(second);
    Settings third;
    if (!ConfigFile::LoadText(third, secondText) || ConfigFile::BuildText(third) != secondText) {
        std::abort();
    }
    return 0;
}
