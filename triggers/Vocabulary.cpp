#include "triggers/Vocabulary.h"

namespace hushwell {

namespace {

constexpr std::array<ControlKind, 5> kControlMatchOrder = {
    ControlKind::Mute, ControlKind::Unmute, ControlKind::Down, ControlKind::Up, ControlKind::Exec};

}  // namespace

std::string_view ControlWord(ControlKind kind) {
    const auto code = static_cast<std::size_t>(kind);
    return code < kControlWords.size() ? kControlWords[code] : kControlWords[0];
}

std::string_view TriggerKindWord(TriggerKind kind) {
    const auto code = static_cast<std::size_t>(kind);
    return code < kTriggerKindWords.size() ? kTriggerKindWords[code] : std::string_view{};
}

std::string_view TargetWord(TargetCode code) {
    const auto slot = static_cast<std::size_t>(code);
    return slot < kTargetWords.size() ? kTargetWords[slot] : kTargetWords[0];
}

ControlKind ControlKindOf(std::string_view text) {
    for (ControlKind kind : kControlMatchOrder) {
        if (text.starts_with(ControlWord(kind))) {
            return kind;
        }
    }
    return ControlKind::Undefined;
}

TriggerKind TriggerKindOf(std::string_view text) {
    for (std::size_t code = 0; code < kTriggerKindWords.size(); ++code) {
        if (text.starts_with(kTriggerKindWords[code])) {
            return static_cast<TriggerKind>(code);
        }
    }
    return TriggerKind::Other;
}

TargetCode TargetCodeOf(std::string_view text) {
    for (std::size_t code = 0; code < kTargetWords.size(); ++code) {
        if (text.starts_with(kTargetWords[code])) {
            return static_cast<TargetCode>(code);
        }
    }
    return TargetCode::Whole;
}

bool IsOnText(std::string_view text) {
    return text.starts_with('v');
}

}  // namespace hushwell
