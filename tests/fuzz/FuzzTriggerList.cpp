// Loads arbitrary bytes as a trigger list file. Whatever loads must save as a well-formed
// document that loads back to the same list (the same document text).
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "persistence/TriggerListFile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using hushwell::TriggerList;
    using hushwell::TriggerListFile;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    TriggerList list;
    if (TriggerListFile::LoadText(list, text) != TriggerListFile::kOk) {
        return 0;
    }
    const std::string saved = TriggerListFile::BuildText(list);
    TriggerList reloaded;
    if (TriggerListFile::LoadText(reloaded, saved) != TriggerListFile::kOk ||
        TriggerListFile::BuildText(reloaded) != saved) {
        std::abort();
    }
    return 0;
}
