#include "triggers/ArgumentSplitter.h"

namespace hushwell {

namespace {

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Inside double quotes a backslash only escapes these characters; before any other it is
// an ordinary character.
bool IsEscapableInDoubleQuotes(char c) {
    return c == '$' || c == '`' || c == '"' || c == '\\' || c == '\n';
}

// The word being built. A word exists as soon as any part of it was seen, so that "" and ''
// give an empty argument while plain blanks give none.
class WordBuilder {
public:
    void Append(char c) {
        text_ += c;
        started_ = true;
    }
    void Append(std::string_view s) {
        text_ += s;
        started_ = true;
    }
    void MarkStarted() { started_ = true; }
    void FinishInto(std::vector<std::string>& args) {
        if (started_) {
            args.push_back(std::move(text_));
        }
        text_.clear();
        started_ = false;
    }

private:
    std::string text_;
    bool started_ = false;
};

}  // namespace

std::optional<std::vector<std::string>> ArgumentSplitter::Split(std::string_view text) {
    std::vector<std::string> args;
    WordBuilder word;
    std::size_t i = 0;
    const std::size_t n = text.size();
    while (i < n) {
        const char c = text[i];
        if (IsBlank(c)) {
            word.FinishInto(args);
            ++i;
        } else if (c == '\\') {
            if (i + 1 == n) {
                word.Append('\\');  // nothing left to escape: keep the backslash itself
                ++i;
            } else {
                if (text[i + 1] != '\n') {  // backslash-newline joins lines and vanishes
                    word.Append(text[i + 1]);
                }
                i += 2;
            }
        } else if (c == '\'') {
            const std::size_t close = text.find('\'', i + 1);
            if (close == std::string_view::npos) {
                return std::nullopt;
            }
            word.Append(text.substr(i + 1, close - i - 1));
            i = close + 1;
        } else if (c == '"') {
            word.MarkStarted();
            ++i;
            bool closed = false;
            while (i < n && !closed) {
                const char d = text[i];
                if (d == '"') {
                    closed = true;
                    ++i;
                } else if (d == '\\' && i + 1 < n && IsEscapableInDoubleQuotes(text[i + 1])) {
                    if (text[i + 1] != '\n') {
                        word.Append(text[i + 1]);
                    }
                    i += 2;
                } else {
                    word.Append(d);
                    ++i;
                }
            }
            if (!closed) {
                return std::nullopt;
            }
        } else {
            word.Append(c);
            ++i;
        }
    }
    word.FinishInto(args);
    return args;
}

}  // namespace hushwell
