#include "triggers/LocalPath.h"

#include <algorithm>

namespace hushwell {

namespace {

constexpr char kSeparator = '/';
constexpr char kForeignSeparator = '\\';

bool IsAsciiLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool BeginsWithDrive(std::string_view text) {
    return text.size() >= 2 && IsAsciiLetter(text[0]) && text[1] == ':';
}

}  // namespace

LocalPath LocalPath::FromText(std::string_view text) {
    LocalPath local;
    local.path.assign(text);
    std::replace(local.path.begin(), local.path.end(), kForeignSeparator, kSeparator);
    if (text.starts_with(kForeignSeparator) || BeginsWithDrive(text)) {
        local.kind = Kind::Foreign;
    } else if (text.starts_with(kSeparator)) {
        local.kind = Kind::Absolute;
    }
    return local;
}

std::string LocalPath::BaseFolder(std::string_view baseDirText, std::string_view triggersFolder) {
    LocalPath base = FromText(baseDirText);
    if (base.kind == Kind::Absolute) {
        return std::move(base.path);
    }
    return std::string(triggersFolder);
}

}  // namespace hushwell
