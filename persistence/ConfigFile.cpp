#include "persistence/ConfigFile.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <optional>
#include <ostream>
#include <string_view>
#include <vector>

#include "persistence/AtomicFile.h"
#include "persistence/NumberText.h"
#include "triggers/EventLog.h"
#include "triggers/StorableText.h"

namespace hushwell {

namespace {

constexpr std::string_view kOn = "v";
constexpr std::string_view kHotkeyOff = "_";
constexpr std::int32_t kModifierMask = 0xF;
constexpr std::int32_t kVirtualKeyLimit = 256;
constexpr int kSetAsideNameAttempts = 100;

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
                hotkey.active = StorableText(row[0]);
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
        field = StorableText(*value);
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

// The active text is written as its first character (a whole one), "_" when it has none.
std::string HotkeyLine(const HotkeySetting& hotkey) {
    const std::string storable = StorableText(hotkey.active);
    const std::string_view active = storable.empty() ? kHotkeyOff : FirstCharacter(storable);
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

// ---- keeping unreadable files ----

std::string Stamp(const LocalTime& t) {
    char stamp[32];
    std::snprintf(stamp, sizeof stamp, "%04d%02d%02d-%02d%02d%02d", t.year, t.month, t.day, t.hour,
                  t.minute, t.second);
    return stamp;
}

bool Exists(const std::string& path) {
    struct stat info {};
    return ::lstat(path.c_str(), &info) == 0;
}

// A name beside path that is not taken yet, or empty.
std::string FreeSetAsideName(const std::string& path, const LocalTime& now) {
    const std::string stem = path + std::string(ConfigFile::kSetAsideInfix) + Stamp(now);
    for (int n = 1; n <= kSetAsideNameAttempts; ++n) {
        std::string name = n == 1 ? stem : stem + "-" + std::to_string(n);
        if (!Exists(name)) {
            return name;
        }
    }
    return {};
}

}  // namespace

std::string ConfigFile::PathIn(const std::string& folder) {
    return ProgramPaths::InFolder(folder, kFileName);
}

bool ConfigFile::Load(Settings& settings, const std::string& path) {
    XmlDocument document;
    if (document.Load(path, kMaxFileBytes) != XmlDocument::LoadStatus::Loaded) {
        return false;
    }
    Read(document, settings);
    return true;
}

ConfigFile::LoadResult ConfigFile::LoadOrSetAside(Settings& settings, const std::string& path,
                                                  const Clock& clock) {
    if (Load(settings, path)) {
        return LoadResult::Loaded;
    }
    if (!Exists(path)) {
        return LoadResult::Missing;
    }
    return SetAsideUnreadable(path, clock) ? LoadResult::SetAside : LoadResult::Stuck;
}

bool ConfigFile::SetAsideUnreadable(const std::string& path, const Clock& clock) {
    XmlDocument document;
    const XmlDocument::LoadStatus status = document.Load(path, kMaxFileBytes);
    if (status == XmlDocument::LoadStatus::Loaded || status == XmlDocument::LoadStatus::Missing) {
        return true;
    }
    const std::string what = path + " " + document.Problem();
    const std::string aside = FreeSetAsideName(path, clock.Now());
    if (aside.empty() || std::rename(path.c_str(), aside.c_str()) != 0) {
        const std::string error = aside.empty() ? "no free name" : std::strerror(errno);
        WriteLogLine("The settings file " + what + "; it could not be moved aside (" + error +
                     ") and is left as it is, not overwritten.");
        return false;
    }
    WriteLogLine("The settings file " + what + "; it was kept as " + aside +
                 " and the settings start from their defaults.");
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

// A check that is on unless the file turns it off: a file without the element (from an older
// version, or the other platform) leaves the setting as it is.
void ReadCheckOnByDefault(const XmlDocument& document, std::string_view pattern,
                          std::string_view attribute, std::string& field) {
    std::optional<std::string> value;
    if (LastAttribute(document, pattern, attribute, value) && value.has_value()) {
        field = *value == kOn ? std::string(kOn) : std::string();
    }
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
    // Newer than the keys above: read whether or not they were.
    ReadCheckOnByDefault(document, "verifyMatches", "check", settings.verifyMatches);
    ReadCheckOnByDefault(document, "notifications", "check", settings.notifications);
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
    text += ValueLine("\t", "verifyMatches", "check", s.verifyMatches);
    text += ValueLine("\t", "notifications", "check", s.notifications);
    text += "</hushwellConfig>\n</root>";
    return text;
}

bool ConfigFile::Save(const Settings& settings, const std::string& path, std::ostream& errors,
                      const Clock& clock) {
    std::string reason;
    if (SaveChecked(settings, path, clock, reason)) {
        return true;
    }
    const std::string message = "Could not save the settings to " + path + " (" + reason + ").";
    WriteLogLine(message);
    errors << "Hushwell: " << message << std::endl;
    return false;
}

bool ConfigFile::SaveChecked(const Settings& settings, const std::string& path, const Clock& clock,
                             std::string& reason) {
    const std::string text = BuildText(settings);
    XmlDocument check;
    if (text.size() > kMaxFileBytes || !check.LoadXml(text)) {
        reason = "the settings do not make a readable file";
        return false;
    }
    if (!SetAsideUnreadable(AtomicFile::ResolveLinks(path), clock)) {
        reason = "an unreadable file is in the way";
        return false;
    }
    std::error_code error;
    if (!AtomicFile::Write(path, text, &error)) {
        reason = error.message();
        return false;
    }
    return true;
}

}  // namespace hushwell
