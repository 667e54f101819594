#include "persistence/TriggerListFile.h"

#include <unistd.h>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "persistence/AtomicFile.h"
#include "persistence/NumberText.h"
#include "persistence/XmlDocument.h"
#include "triggers/EventLog.h"

namespace hushwell {

namespace {

constexpr std::string_view kExtension = ".xml";
constexpr std::string_view kBaseDirPattern = "Sound/baseDir";
constexpr std::string_view kThresholdName = "threshold";
// Thresholds are written as the scan tool prints scores: 0.8750.
constexpr int kThresholdDecimals = 4;
constexpr std::size_t kThresholdTextSize = 32;

struct KindFormat {
    TriggerKind kind;
    std::string_view pattern;
    std::string_view element;
};
constexpr std::array<KindFormat, 3> kKinds = {{
    {TriggerKind::Sound, "Sound/item", "Sound"},
    {TriggerKind::Time, "Time/item", "Time"},
    {TriggerKind::Level, "Level/item", "Level"},
}};

// ---- writing ----

std::string Attribute(std::string_view name, std::string_view value) {
    std::string text;
    text.reserve(name.size() + value.size() + 4);
    text += ' ';
    text += name;
    text += "=\"";
    text += XmlDocument::Escape(value);
    text += '"';
    return text;
}

std::string TimeAttribute(std::string_view name, const TriggerTime& time) {
    return Attribute(name, time.Formatted());
}

// Written lists hold only active records, whose active text begins with "v".
std::string ActiveAttribute(const Trigger& record) {
    return Attribute("active", record.active.substr(0, 1));
}

std::string ExecAttributes(const Trigger& record) {
    return Attribute("command", record.command) + Attribute("commandArgs", record.commandArgs);
}

// Only a threshold the user set is written, so that lists nobody tuned keep their text.
std::string ThresholdAttribute(const Trigger& r) {
    if (!r.HasOwnMatchThreshold()) {
        return {};
    }
    char text[kThresholdTextSize];
    std::snprintf(text, sizeof text, "%.*f", kThresholdDecimals, double{r.matchThreshold});
    return Attribute(kThresholdName, text);
}

std::string SoundItem(const Trigger& r) {
    return "\t\t\t<item" + ActiveAttribute(r) + Attribute("name", r.name) +
           Attribute("trigger", r.triggerFile) + Attribute("control", r.control) +
           TimeAttribute("duration", r.duration) + TimeAttribute("startTime", r.startTime) +
           TimeAttribute("endTime", r.endTime) + Attribute("target", r.target) + ExecAttributes(r) +
           ThresholdAttribute(r) + "/>\n";
}

// A time trigger without repetition has no start/end window.
std::string TimeItem(const Trigger& r) {
    std::string window;
    if (r.every) {
        window = TimeAttribute("startTime", r.startTime) + TimeAttribute("endTime", r.endTime);
    }
    return "\t\t\t<item" + ActiveAttribute(r) + Attribute("name", r.name) +
           Attribute("every", r.every ? "y" : "n") + TimeAttribute("trigger", r.timeOfDay) +
           Attribute("dayOfWeek", r.SelectedDayNames()) + Attribute("control", r.control) +
           TimeAttribute("duration", r.duration) + window + Attribute("target", r.target) +
           ExecAttributes(r) + "/>\n";
}

std::string LevelItem(const Trigger& r) {
    return "\t\t\t<item" + ActiveAttribute(r) + Attribute("name", r.name) +
           Attribute("trigger", std::to_string(r.level)) + Attribute("control", r.control) +
           TimeAttribute("duration", r.duration) + TimeAttribute("startTime", r.startTime) +
           TimeAttribute("endTime", r.endTime) + ExecAttributes(r) + "/>\n";
}

std::string Item(TriggerKind kind, const Trigger& record) {
    std::lock_guard guard(record.Mutex());
    switch (kind) {
        case TriggerKind::Sound:
            return SoundItem(record);
        case TriggerKind::Time:
            return TimeItem(record);
        case TriggerKind::Level:
            return LevelItem(record);
        case TriggerKind::Other:
            break;
    }
    return {};
}

// ---- reading ----

// Texts enter the record through SetText, which keeps out what a file cannot hold.
void ReadText(const XmlElement& item, std::string_view name, Trigger& record,
              std::string Trigger::*field) {
    std::string text;
    if (item.GetAttribute(name, text)) {
        record.SetText(field, text);
    }
}

void ReadTime(const XmlElement& item, std::string_view name, TriggerTime& field) {
    std::string text;
    if (item.GetAttribute(name, text)) {
        field.Parse(text);
    }
}

// A sound item's own threshold: limited to the allowed range, ignored when it is not a number;
// either is logged once, naming the trigger.
void ReadThreshold(const XmlElement& item, Trigger& record) {
    std::string text;
    if (!item.GetAttribute(kThresholdName, text)) {
        return;
    }
    double value = 0.0;
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    const std::string what = "Trigger \"" + record.name + "\": threshold \"" + text + "\"";
    if (error != std::errc{} || stop != end || !std::isfinite(value)) {
        WriteLogLine(what + " is not a number; the threshold of its sound's length applies");
        return;
    }
    if (!record.SetMatchThreshold(value)) {
        char limited[kThresholdTextSize];
        std::snprintf(limited, sizeof limited, "%.*f", kThresholdDecimals,
                      double{record.matchThreshold});
        WriteLogLine(what + " is out of range; " + limited + " applies");
    }
}

void ReadItem(TriggerKind kind, const XmlElement& item, Trigger& record) {
    std::string text;
    ReadText(item, "active", record, &Trigger::active);
    ReadText(item, "name", record, &Trigger::name);
    if (kind != TriggerKind::Level) {
        ReadText(item, "target", record, &Trigger::target);
    }
    ReadText(item, "command", record, &Trigger::command);
    ReadText(item, "commandArgs", record, &Trigger::commandArgs);
    if (item.GetAttribute("control", text)) {
        record.SetControl(text);
    }
    ReadTime(item, "duration", record.duration);
    ReadTime(item, "startTime", record.startTime);
    ReadTime(item, "endTime", record.endTime);
    switch (kind) {
        case TriggerKind::Sound:
            ReadText(item, "trigger", record, &Trigger::triggerFile);
            ReadThreshold(item, record);
            break;
        case TriggerKind::Time:
            ReadTime(item, "trigger", record.timeOfDay);
            if (item.GetAttribute("every", text)) {
                record.every = !text.empty() && (text[0] == 'y' || text[0] == 'Y');
            }
            if (item.GetAttribute("dayOfWeek", text)) {
                record.ParseDays(text);
            }
            break;
        case TriggerKind::Level:
            if (item.GetAttribute("trigger", text)) {
                record.SetLevel(LeadingInteger(text));
            }
            break;
        case TriggerKind::Other:
            break;
    }
}

// Replaces one kind's records by the file's first items of that kind, up to the kind's
// limit; a kind the query cannot answer keeps its records.
void ReadKind(const XmlDocument& document, const KindFormat& format, TriggerList& list) {
    std::vector<XmlElement> items;
    const std::size_t limit = static_cast<std::size_t>(std::max(0, list.Limit(format.kind)));
    if (!document.Query(format.pattern, items, limit)) {
        return;
    }
    list.ClearKind(format.kind);
    for (std::size_t i = 0; i < items.size(); ++i) {
        Trigger record;
        record.triggerKind = TriggerKindWord(format.kind);
        ReadItem(format.kind, items[i], record);
        list.Add(record);
    }
}

bool ReadWholeFile(const std::string& path, std::string& contents) {
    std::ifstream in(path, std::ios::binary);
    contents.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    return in.good() || in.eof();
}

}  // namespace

std::string TriggerListFile::PathIn(const std::string& folder) {
    return ProgramPaths::InFolder(folder, kFileName);
}

std::string TriggerListFile::BackupPath(const std::string& listPath, int n) {
    std::string stem = listPath;
    if (stem.ends_with(kExtension)) {
        stem.resize(stem.size() - kExtension.size());
    }
    return stem + "_bak" + std::to_string(n) + std::string(kExtension);
}

int TriggerListFile::Load(TriggerList& list, const std::string& path, std::string* reason) {
    if (path.empty()) {
        return kNoPath;
    }
    XmlDocument document;
    const XmlDocument::LoadStatus status = document.Load(path, kMaxFileBytes);
    if (status != XmlDocument::LoadStatus::Loaded) {
        if (reason != nullptr && status != XmlDocument::LoadStatus::Missing) {
            *reason = document.Problem();
        }
        return kNotReadable;
    }
    const int result = Read(document, list);
    if (reason != nullptr && result == kNoBaseDir) {
        *reason = "has no Sound/baseDir element";
    }
    return result;
}

int TriggerListFile::LoadText(TriggerList& list, std::string_view text) {
    XmlDocument document;
    if (!document.LoadXml(text)) {
        return kNotReadable;
    }
    return Read(document, list);
}

int TriggerListFile::Read(const XmlDocument& document, TriggerList& list) {
    std::lock_guard guard(list.Mutex());
    std::vector<XmlElement> baseDirs;
    if (!document.Query(kBaseDirPattern, baseDirs, 1)) {
        return kBaseDirQueryFailed;
    }
    if (baseDirs.empty()) {
        return kNoBaseDir;
    }
    list.SetBaseDir(baseDirs.front().Text());
    for (const KindFormat& format : kKinds) {
        ReadKind(document, format, list);
    }
    return kOk;
}

int TriggerListFile::LoadAndMerge(TriggerList& list, const std::string& path) {
    TriggerList fromFile;
    const int result = Load(fromFile, path);
    if (result == kOk) {
        list.Merge(fromFile);
    }
    return result;
}

std::string TriggerListFile::BuildText(const TriggerList& list) {
    std::lock_guard guard(list.Mutex());
    std::string text =
        "<?xml version=\"1.0\" encoding=\"utf-8\" standalone=\"yes\"?>\n"
        "<root>\n"
        "\t<TriggerList version=\"1.1.0\">\n";
    for (const KindFormat& format : kKinds) {
        text += "\t\t<" + std::string(format.element) + ">\n";
        if (format.kind == TriggerKind::Sound) {
            text += "\t\t\t<baseDir>" + XmlDocument::Escape(list.BaseDir()) + "</baseDir>\n";
        }
        for (const Trigger* record : list.ActiveRecords(format.kind)) {
            text += Item(format.kind, *record);
        }
        text += "\t\t</" + std::string(format.element) + ">\n";
    }
    text += "\t</TriggerList>\n</root>";
    return text;
}

int TriggerListFile::BuildChecked(const TriggerList& list, std::string& text) {
    text = BuildText(list);
    if (text.size() > kMaxFileBytes) {
        return kTooLarge;  // it could not be read back
    }
    XmlDocument check;
    return check.LoadXml(text) ? kOk : kNotWellFormed;
}

int TriggerListFile::Save(const TriggerList& list, const std::string& path) {
    std::string text;
    if (const int built = BuildChecked(list, text); built != kOk) {
        return built;
    }
    return AtomicFile::Write(path, text) ? kOk : kSaveFailed;
}

int TriggerListFile::SaveWithBackups(const TriggerList& list, const std::string& path) {
    std::string text;
    if (const int built = BuildChecked(list, text); built != kOk) {
        return built;
    }
    // Through a link, the file it points to is saved, and its backups lie beside it.
    const std::string target = AtomicFile::ResolveLinks(path);
    AtomicFile file(target);
    if (target.empty() || !file.Prepare(text)) {
        return kSaveFailed;  // nothing rotated, nothing replaced
    }
    const bool listMoved = RotateBackups(target);
    if (file.Commit()) {
        return kOk;
    }
    if (listMoved) {
        // The list file went to the first backup; bring it back.
        std::string previous;
        if (ReadWholeFile(BackupPath(target, 1), previous)) {
            AtomicFile::Write(target, previous);
        }
    }
    return kSaveFailed;
}

// Returns true when the list file had to be moved to the first backup rather than linked
// there (a folder without hard links); it is then absent until the new file is in place.
bool TriggerListFile::RotateBackups(const std::string& path) {
    const std::string bak1 = BackupPath(path, 1);
    const std::string bak2 = BackupPath(path, 2);
    const std::string bak3 = BackupPath(path, 3);
    ::unlink(bak3.c_str());
    std::rename(bak2.c_str(), bak3.c_str());
    std::rename(bak1.c_str(), bak2.c_str());
    if (::access(path.c_str(), F_OK) != 0) {
        return false;
    }
    // A second name for the current list, renamed over the first backup in one step.
    const std::string link = bak1 + ".tmp" + std::to_string(::getpid());
    ::unlink(link.c_str());
    if (::link(path.c_str(), link.c_str()) == 0) {
        if (std::rename(link.c_str(), bak1.c_str()) == 0) {
            return false;
        }
        ::unlink(link.c_str());
    }
    return std::rename(path.c_str(), bak1.c_str()) == 0;
}

}  // namespace hushwell
