#include "triggers/StorableText.h"

#include <cstdint>

namespace hushwell {

namespace {

constexpr char32_t kTab = 0x09;
constexpr char32_t kLineFeed = 0x0A;
constexpr char32_t kCarriageReturn = 0x0D;
constexpr char32_t kFirstPrintable = 0x20;
constexpr char32_t kFirstSurrogate = 0xD800;
constexpr char32_t kLastSurrogate = 0xDFFF;
constexpr char32_t kFirstNonCharacter = 0xFFFE;  // U+FFFE and U+FFFF
constexpr char32_t kLastNonCharacter = 0xFFFF;
constexpr char32_t kLastCodePoint = 0x10FFFF;
constexpr std::string_view kXmlWhiteSpace = " \t\n\r";

// The characters XML 1.0 allows in a document.
bool IsXmlCharacter(char32_t c) {
    if (c < kFirstPrintable) {
        return c == kTab || c == kLineFeed || c == kCarriageReturn;
    }
    return !(c >= kFirstSurrogate && c <= kLastSurrogate) &&
           !(c >= kFirstNonCharacter && c <= kLastNonCharacter) && c <= kLastCodePoint;
}

// Number of bytes of the sequence a lead byte starts and the bits it contributes; 0 when the
// byte cannot start a sequence (a continuation byte, or 0xF8 and above).
std::size_t SequenceLength(std::uint8_t lead, char32_t& bits) {
    if (lead < 0x80) {
        bits = lead;
        return 1;
    }
    if ((lead & 0xE0) == 0xC0) {
        bits = lead & 0x1F;
        return 2;
    }
    if ((lead & 0xF0) == 0xE0) {
        bits = lead & 0x0F;
        return 3;
    }
    if ((lead & 0xF8) == 0xF0) {
        bits = lead & 0x07;
        return 4;
    }
    return 0;
}

// The smallest code point each sequence length may encode; shorter forms are overlong.
constexpr char32_t kSmallestOfLength[] = {0, 0, 0x80, 0x800, 0x10000};

// Decodes the sequence at the start of text; returns its length, or 0 when it is not a
// valid UTF-8 sequence.
std::size_t Decode(std::string_view text, char32_t& c) {
    const std::size_t length = SequenceLength(static_cast<std::uint8_t>(text[0]), c);
    if (length == 0 || length > text.size()) {
        return 0;
    }
    for (std::size_t i = 1; i < length; ++i) {
        const auto byte = static_cast<std::uint8_t>(text[i]);
        if ((byte & 0xC0) != 0x80) {
            return 0;
        }
        c = (c << 6) | (byte & 0x3F);
    }
    if (c < kSmallestOfLength[length]) {
        return 0;
    }
    return length;
}

}  // namespace

std::string StorableText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    while (!text.empty()) {
        char32_t c = 0;
        const std::size_t length = Decode(text, c);
        if (length == 0) {
            text.remove_prefix(1);  // a stray byte
            continue;
        }
        if (IsXmlCharacter(c)) {
            out.append(text.substr(0, length));
        }
        text.remove_prefix(length);
    }
    return out;
}

std::string_view WithoutSurroundingSpace(std::string_view text) {
    const std::size_t first = text.find_first_not_of(kXmlWhiteSpace);
    if (first == std::string_view::npos) {
        return {};
    }
    const std::size_t last = text.find_last_not_of(kXmlWhiteSpace);
    return text.substr(first, last - first + 1);
}

std::string_view FirstCharacter(std::string_view text) {
    if (text.empty()) {
        return text;
    }
    char32_t c = 0;
    const std::size_t length = Decode(text, c);
    return text.substr(0, length == 0 ? 1 : length);
}

}  // namespace hushwell
