// Splits arbitrary argument text, then quotes every argument it got and splits that again:
// the arguments must come back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "triggers/ArgumentSplitter.h"

namespace {

// Single quotes keep everything but a single quote, which is written as '\''.
std::string Quote(const std::string& arg) {
    std::string quoted = "'";
    for (char c : arg) {
        if (c == '\'') {
            quoted += "'\\''";
        } else {
            quoted += c;
        }
    }
    quoted += "'";
    return quoted;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    auto args = hushwell::ArgumentSplitter::Split(text);
    if (!args) {
        return 0;
    }
    std::string joined;
    for (const std::string& arg : *args) {
        joined += Quote(arg);
        joined += ' ';
    }
    auto again = hushwell::ArgumentSplitter::Split(joined);
    if (!again || *again != *args) {
        std::abort();
    }
    return 0;
}
