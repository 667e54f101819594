#include "persistence/ConfigFile.h"

#include <optional>
#include <string_view>
#include <vector>

#include "persistence/AtomicFile.h"
#include "persistence/NumberText.h"
#include "persistence/XmlDocument.h"

namespace hushwell {

namespace {

constexpr std::string_view kOn = "v";
constexpr std::string_view kHotkeyOff = "_";
constexpr std::int32_t kModifierMask = 0xF;
constexpr std::int32_t kVirtualKeyLimit = 256;

using Row = XmlDocument::Row;

// ---- reading ----

// The attribute of the last element matching the pattern, when that element holds it.
// Returns false when the query fails, which ends the reading of the file.
bool LastAttribute(const XmlDocument& document, std::string_view pattern,
                   std::string_view attribute, std::optional<std::string>& value) {
    std::vector<Row> rows;
    if (document.QueryAttributeRows(pattern, {attribute}, rows) != XmlDocument::kRowsOk) {
        return false;
    }
    value.reset();
    if (!rows.empty() && !rows.back().empty()) {
        value = rows.back().front();
    }
    return true;
}

bool ReadInteger(const XmlDocument& document, std::string_view pattern, std::string_view attribute,
                 std::int32_t& field) {
    std::optional<std::string> value;
    if (!LastAttribute(document, pattern, attribute, value)) {
        return false;
    }
    if (value) {
        field = LeadingInteger(*value);
    }
    return true;
}

// Rows holding all four attributes update the hotkey of the same name; a virtual key that
// is negative or not below 256 leaves the hotkey alone.
bool ReadHotkeys(const XmlDocument& document, Settings& settings) {
    std::vector<Row> rows;
    if (document.QueryAttributeRows("hotkey/item", {"active", "name", "modifier", "vkey"}, rows) !=
        XmlDocument::kRowsOk) {
        return false;
    }
    for (const Row& row : rows) {
        if (row.size() != 4) {
            continue;
        }
        const std::int32_t virtualKey = LeadingInteger(row[3]);
        if (virtualKey < 0 || virtualKey >= kVirtualKeyLimit) {
            continue;
        }
        for (HotkeySetting& hotkey : settings.hotkeys) {
            if (hotkey.name == row[1]) {
                hotkey.active = row[0];
                hotkey.modifier = LeadingInteger(row[2]) & kModifierMask;
                hotkey.virtualKey = virtualKey;
            }
        }
    }
    return true;
}

bool ReadRecordingDefaults(const XmlDocument& document, Settings& settings) {
    constexpr std::string_view kGroup = "reccordRegisterShortcuts/";
    const auto key = [&](std::string_view name) { return std::string(kGroup) + std::string(name); };
    if (!ReadInteger(document, key("preRecordingLengthInsec"), "value",
                     settings.preRecordingLengthInSec) ||
        !ReadInteger(document, key("triggerSoundLengthInSec"), "value",
                     settings.triggerSoundLengthInSec) ||
        !ReadInteger(document, key("filenameFormatType"), "value", settings.filenameFormatType) ||
        !ReadInteger(document, key("defaultAction"), "value", settings.defaultAction)) {
        return false;
    }
    std::optional<std::string> duration;
    if (!LastAttribute(document, key("defaultDuration"), "value", duration)) {
        return false;
    }
    if (duration) {
        settings.defaultDuration.Parse(*duration);
    }
    return true;
}

// A check text is cleared once the reading reaches it, and set only by exactly "v".
bool ReadCheck(const XmlDocument& document, std::string_view pattern, std::string_view attribute,
               std::string& field) {
    std::optional<std::string> value;
    if (!LastAttribute(document, pattern, attribute, value)) {
        return false;
    }
    field.clear();
    if (value == kOn) {
        field = kOn;
    }
    return true;
}

// A rate becomes "50" once the reading reaches it, and takes a value from 1 to 300.
bool ReadRate(const XmlDocument& document, std::string_view pattern, std::string& field) {
    std::optional<std::string> value;
    if (!LastAttribute(document, pattern, "value", value)) {
        return false;
    }
    field = Settings::kDefaultVolumeRate;
    if (value && Settings::IsValidVolumeRate(*value)) {
        field = *value;
    }
    return true;
}

bool ReadPlacement(const XmlDocument& document, WindowPlacementSetting& placement) {
    return ReadInteger(document, "windowPlacement", "top", placement.top) &&
           ReadInteger(document, "windowPlacement", "bottom", placement.bottom) &&
           ReadInteger(document, "windowPlacement", "left", placement.left) &&
           ReadInteger(document, "windowPlacement", "right", placement.right) &&
           ReadInteger(document, "windowPlacement", "tab", placement.tab);
}

template <std::size_t N>
bool ReadWidths(const XmlDocument& document, std::string_view pattern,
                std::array<std::int32_t, N>& widths) {
    std::optional<std::string> value;
    if (!LastAttribute(document, pattern, "listColumnWidth", value)) {
        return false;
    }
    if (value) {
        const std::vector<std::int32_t> runs = DigitRuns(*value, N);
        std::copy(runs.begin(), runs.end(), widths.begin());
    }
    return true;
}

// ---- writing ----

std::string ValueLine(std::string_view indent, std::string_view element, std::string_view name,
                      std::string_view value) {
    return std::string(indent) + "<" + std::string(element) + " " + std::string(name) + "=\"" +
           XmlDocument::Escape(value) + "\"/>\n";
}

std::string HotkeyLine(const HotkeySetting& hotkey) {
    const std::string_view active =
        hotkey.active.empty() ? kHotkeyOff : std::string_view(hotkey.active).substr(0, 1);
    return "<item active=\"" + XmlDocument::Escape(active) + "\" name=\"" +
           XmlDocument::Escape(hotkey.name) + "\" modifier=\"" + std::to_string(hotkey.modifier) +
           "\" vkey=\"" + std::to_string(hotkey.virtualKey) + "\"/>\n";
}

std::string PlacementLine(const WindowPlacementSetting& p) {
    std::string line = "\t<windowPlacement ";
    const std::pair<std::string_view, std::int32_t> pieces[] = {
        {"top", p.top}, {"bottom", p.bottom}, {"left", p.left}, {"right", p.right}, {"tab", p.tab}};
    for (const auto& [name, value] : pieces) {
        line += " " + std::string(name) + "=\"" + std::to_string(value) + "\"";
    }
    return line + "  />\n";
}

template <std::size_t N>
std::string WidthsLine(std::string_view element, const std::array<std::int32_t, N>& widths) {
    std::string line = "\t<" + std::string(element) + " listColumnWidth=\"";
    for (std::size_t i = 0; i < N; ++i) {
        line += (i == 0 ? "" : " ") + std::to_string(widths[i]);
    }
    return line + "\"  />\n";
}

}  // namespace

std::string ConfigFile::PathIn(const std::string& folder) {
    if (folder.empty() || folder.back() == '/') {
        return folder + kFileName;
    }
    return folder + "/" + kFileName;
}

bool ConfigFile::Load(Settings& settings, const std::string& path) {
    XmlDocument document;
    if (!document.Load(path)) {
        return false;
    }
    Read(document, settings);
    return true;
}

bool ConfigFile::LoadText(Settings& settings, std::string_view text) {
    XmlDocument document;
    if (!document.LoadXml(text)) {
        return false;
    }
    Read(document, settings);
    return true;
}

void ConfigFile::Read(const XmlDocument& document, Settings& settings) {
    // Each step returns false when its query fails; the later keys then stay as they are.
    ReadHotkeys(document, settings) && ReadRecordingDefaults(document, settings) &&
        ReadCheck(document, "launchAtLogon", "check", settings.launchAtLogon) &&
        ReadRate(document, "defaultVolumeUpRate", settings.volumeUpRate) &&
        ReadRate(document, "defaultVolumeDownRate", settings.volumeDownRate) &&
        ReadCheck(document, "triggerList", "groupView", settings.groupView) &&
        ReadPlacement(document, settings.placement) &&
        ReadWidths(document, "FilterTab", settings.triggerListColumnWidths) &&
        ReadWidths(document, "LogTab", settings.logListColumnWidths);
}

std::string ConfigFile::BuildText(const Settings& s) {
    std::string text =
        "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n"
        "<root>\n"
        "<hushwellConfig version=\"1.0\">\n"
        "\t\t<hotkey>\n";
    for (const HotkeySetting& hotkey : s.hotkeys) {
        text += HotkeyLine(hotkey);
    }
    text += "\t\t</hotkey>\n\t\t<reccordRegisterShortcuts>\n";
    text += ValueLine("", "preRecordingLengthInsec", "value",
                      std::to_string(s.preRecordingLengthInSec));
    text += ValueLine("", "triggerSoundLengthInSec", "value",
                      std::to_string(s.triggerSoundLengthInSec));
    text += ValueLine("", "filenameFormatType", "value", std::to_string(s.filenameFormatType));
    text += ValueLine("", "defaultAction", "value", std::to_string(s.defaultAction));
    text += ValueLine("", "defaultDuration", "value", s.defaultDuration.Formatted());
    text += "\t\t</reccordRegisterShortcuts>\n";
    text += ValueLine("\t", "launchAtLogon", "check", s.launchAtLogon);
    if (Settings::IsValidVolumeRate(s.volumeUpRate)) {
        text += ValueLine("\t", "defaultVolumeUpRate", "value", s.volumeUpRate);
    }
    if (Settings::IsValidVolumeRate(s.volumeDownRate)) {
        text += ValueLine("\t", "defaultVolumeDownRate", "value", s.volumeDownRate);
    }
    text += ValueLine("\t", "triggerList", "groupView", s.groupView);
    text += PlacementLine(s.placement);
    text += WidthsLine("FilterTab", s.triggerListColumnWidths);
    text += WidthsLine("LogTab", s.logListColumnWidths);
    text += "</hushwellConfig>\n</root>";
    return text;
}

bool ConfigFile::Save(const Settings& settings, const std::string& path) {
    const std::string text = BuildText(settings);
    XmlDocument check;
    return check.LoadXml(text) && AtomicFile::Write(path, text);
}

}  // namespace hushwell
