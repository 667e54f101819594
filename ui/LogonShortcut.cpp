#include "ui/LogonShortcut.h"

#include <filesystem>
#include <string_view>

#include "persistence/AtomicFile.h"

namespace hushwell {

namespace {

constexpr std::string_view kExtension = ".desktop";
// Characters that make an Exec argument need quotes, and those escaped inside the quotes.
constexpr std::string_view kReservedCharacters = " \t\n\"'\\><~|&;$*?#()`";
constexpr std::string_view kEscapedInQuotes = "\"`$\\";

// The escapes of a desktop entry's string values, applied to the whole Exec value.
std::string EscapeStringValue(std::string_view value) {
    std::string escaped;
    for (char c : value) {
        switch (c) {
            case '\\':
                escaped += "\\\\";
                break;
            case '\n':
                escaped += "\\n";
                break;
            case '\t':
                escaped += "\\t";
                break;
            case '\r':
                escaped += "\\r";
                break;
            default:
                escaped += c;
        }
    }
    return escaped;
}

}  // namespace

LogonShortcut::LogonShortcut(std::string startupFolder, std::string programName,
                             std::string programPath)
    : startupFolder_(std::move(startupFolder)),
      programName_(std::move(programName)),
      programPath_(std::move(programPath)) {}

bool LogonShortcut::Known() const {
    return !startupFolder_.empty() && !programName_.empty();
}

std::string LogonShortcut::Path() const {
    if (!Known()) {
        return {};
    }
    const bool endsWithSlash = startupFolder_.back() == '/';
    return startupFolder_ + (endsWithSlash ? "" : "/") + programName_ + std::string(kExtension);
}

bool LogonShortcut::Create() const {
    if (!Known() || programPath_.empty()) {
        return false;
    }
    std::error_code error;
    std::filesystem::create_directories(startupFolder_, error);
    return AtomicFile::Write(Path(), EntryText(programPath_));
}

bool LogonShortcut::Remove() const {
    if (!Known()) {
        return false;
    }
    std::error_code error;
    std::filesystem::remove(Path(), error);
    return !std::filesystem::exists(Path(), error);
}

std::string LogonShortcut::ExecArgument(const std::string& argument) {
    std::string quoted;
    for (char c : argument) {
        if (c == '%') {
            quoted += "%%";  // a lone "%" would start a field code
            continue;
        }
        if (kEscapedInQuotes.find(c) != std::string_view::npos) {
            quoted += '\\';
        }
        quoted += c;
    }
    const bool needsQuotes = argument.find_first_of(kReservedCharacters) != std::string::npos;
    return needsQuotes ? "\"" + quoted + "\"" : quoted;
}

std::string LogonShortcut::EntryText(const std::string& programPath) {
    std::string text = "[Desktop Entry]\n";
    text += "Type=Application\n";
    text += "Name=Hushwell\n";
    text += "Comment=Mutes or turns down the output when it hears one of your sounds\n";
    text += "Exec=" + EscapeStringValue(ExecArgument(programPath)) + "\n";
    text += "Icon=hushwell\n";
    text += "Terminal=false\n";
    text += "X-GNOME-Autostart-enabled=true\n";
    return text;
}

}  // namespace hushwell
