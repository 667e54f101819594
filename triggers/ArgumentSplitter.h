#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace hushwell {

// Splits the argument text of an "exec" control into separate arguments the way a POSIX
// shell splits words, without doing anything else a shell does:
//  - blanks (space, tab, newline, carriage return) outside quotes separate arguments;
//  - 'single quotes' keep everything up to the next single quote literally;
//  - "double quotes" keep everything literally except that a backslash before one of
//    $ ` " and a newline, or before another backslash, stands for that character (a
//    backslash-newline pair is removed);
//  - outside quotes a backslash makes the next character literal (backslash-newline is
//    removed; a backslash at the very end stays a backslash);
//  - "" and '' give an empty argument.
// There is no expansion of any kind: $VAR, $(...), backquotes, ~, globs, ;, |, &, <, >, and #
// all arrive as the literal text they are.
//
// Pure function, any thread.
class ArgumentSplitter {
public:
    // The arguments, or std::nullopt when a quote is left open (the text is then ambiguous
    // and nothing should be started from it).
    static std::optional<std::vector<std::string>> Split(std::string_view text);
};

}  // namespace hushwell
