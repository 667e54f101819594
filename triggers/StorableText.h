#pragma once

#include <string>
#include <string_view>

namespace hushwell {

// Text as records keep it: valid UTF-8 made only of characters an XML 1.0 document can hold,
// so that whatever a record holds can be written to the trigger list or configuration file.
// Dropped are bytes that do not form a valid UTF-8 sequence (cut sequences, overlong forms,
// surrogates, values above U+10FFFF), the C0 control characters other than tab, line feed and
// carriage return, and U+FFFE and U+FFFF. Everything else is kept as it is. Any thread.
std::string StorableText(std::string_view text);

// The text without the XML white space (space, tab, line feed, carriage return) at either
// end, which readers of a document take for the layout around an element's text.
std::string_view WithoutSurroundingSpace(std::string_view text);

// The first character of a storable text (one whole UTF-8 sequence); empty for an empty text.
std::string_view FirstCharacter(std::string_view text);

}  // namespace hushwell
