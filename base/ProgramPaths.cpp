#include "base/ProgramPaths.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>

namespace hushwell {

namespace {

// Where an installed program's manual lies, from the prefix above the program's folder.
constexpr std::string_view kInstalledDocFolder = "share/doc/hushwell";

std::string HomeFolder() {
    const char* home = std::getenv("HOME");
    return home != nullptr ? home : "";
}

}  // namespace

ProgramPaths ProgramPaths::ForDataFolder(const std::string& dataFolder) {
    ProgramPaths paths;
    paths.dataFolder = dataFolder;
    paths.configFile = InFolder(dataFolder, kConfigFileName);
    paths.triggerListFile = InFolder(dataFolder, kTriggerListFileName);
    paths.soundFolder = SoundFolderOf(dataFolder);
    return paths;
}

std::string ProgramPaths::InFolder(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') {
        return folder + name;
    }
    return folder + "/" + name;
}

std::string ProgramPaths::SoundFolderOf(const std::string& dataFolder) {
    if (dataFolder.empty()) {
        return "/" + std::string(kSoundSubFolder);
    }
    return InFolder(dataFolder, kSoundSubFolder);
}

std::string ProgramPaths::StartupFolder() {
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const std::string base =
        (config != nullptr && *config == '/') ? std::string(config) : HomeFolder() + "/.config";
    return base + "/autostart";
}

std::string ProgramPaths::RunningProgramPath() {
    std::error_code error;
    const std::filesystem::path path = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::string() : path.string();
}

std::string ProgramPaths::ProgramNameOf(const std::string& programPath) {
    const std::size_t slash = programPath.rfind('/');
    if (slash == std::string::npos) {
        return {};
    }
    std::string name = programPath.substr(slash + 1);
    const std::size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        name.erase(dot);
    }
    return name;
}

std::string ProgramPaths::ManualPathOf(const std::string& programPath) {
    const std::string name = ProgramNameOf(programPath);
    if (name.empty()) {
        return {};
    }
    const std::filesystem::path programFolder = std::filesystem::path(programPath).parent_path();
    const std::string fileName = name + ".html";
    const std::filesystem::path beside = programFolder / fileName;
    const std::filesystem::path installed =
        programFolder.parent_path() / kInstalledDocFolder / fileName;
    std::error_code error;
    if (!std::filesystem::is_regular_file(beside, error) &&
        std::filesystem::is_regular_file(installed, error)) {
        return installed.string();
    }
    return beside.string();
}

bool ProgramPaths::EnsureFolder(const std::string& folder, std::string* problem) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) {
        return true;
    }
    if (std::filesystem::exists(std::filesystem::symlink_status(folder, error))) {
        if (problem != nullptr) {
            *problem = "is a file, not a folder";
        }
        return false;
    }
    std::filesystem::create_directories(folder, error);
    if (std::filesystem::is_directory(folder)) {
        return true;
    }
    if (problem != nullptr) {
        *problem = "cannot be created (" + (error ? error.message() : "no reason given") + ")";
    }
    return false;
}

}  // namespace hushwell
