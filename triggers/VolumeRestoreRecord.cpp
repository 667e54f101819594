#include "triggers/VolumeRestoreRecord.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <memory>

#include "audio/AudioBackend.h"
#include "audio/AudioEndpoint.h"
#include "audio/EndpointVolume.h"
#include "base/DurableWrite.h"
#include "triggers/CVolumeManager.h"

namespace hushwell {

namespace {

constexpr mode_t kFileMode = 0600;
constexpr std::string_view kTemporarySuffix = ".tmp";
constexpr std::string_view kVersionKey = "version";
constexpr std::string_view kEndpointKey = "endpoint";
constexpr std::string_view kMutedKey = "muted";
constexpr std::string_view kStepsKey = "steps";
constexpr std::string_view kVolumeKey = "volume";

// Closes the descriptor it holds.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd) : fd_(fd) {}
    ~FileDescriptor() { Close(); }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;

    bool Valid() const { return fd_ >= 0; }
    int Get() const { return fd_; }
    bool Close() {
        const bool closed = fd_ < 0 || ::close(fd_) == 0;
        fd_ = -1;
        return closed;
    }

private:
    int fd_;
};

// Writes the content to a temporary file beside the target, flushes it to the disk and renames
// it over the target, so the target is always either the old or the new file.
bool ReplaceFile(const std::string& path, std::string_view contents) {
    const std::string temporary = path + std::string(kTemporarySuffix);
    FileDescriptor file(
        ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, kFileMode));
    if (!file.Valid()) {
        return false;
    }
    const bool written = WriteAll(file.Get(), contents) && ::fsync(file.Get()) == 0;
    if (!file.Close() || !written || ::rename(temporary.c_str(), path.c_str()) != 0) {
        ::unlink(temporary.c_str());
        return false;
    }
    SyncFolder(FolderOf(path));
    return true;
}

// Reads at most `limit` + 1 bytes, so a larger file is seen without reading it all.
VolumeRestoreRecord::LoadResult ReadBounded(const std::string& path, std::size_t limit,
                                            std::string& text) {
    using Result = VolumeRestoreRecord::LoadResult;
    FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file.Valid()) {
        return errno == ENOENT ? Result::Missing : Result::Damaged;
    }
    std::array<char, 512> buffer{};
    while (text.size() <= limit) {
        const ssize_t got = ::read(file.Get(), buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return Result::Damaged;
        }
        if (got == 0) {
            return Result::Loaded;
        }
        text.append(buffer.data(), static_cast<std::size_t>(got));
    }
    return Result::Damaged;
}

template <typename Number>
std::optional<Number> ParseNumber(std::string_view text) {
    Number value{};
    const char* end = text.data() + text.size();
    const auto [stop, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || stop != end) {
        return std::nullopt;
    }
    return value;
}

std::string FormatLevel(float level) {
    std::array<char, 32> buffer{};
    const auto result = std::to_chars(buffer.data(), buffer.data() + buffer.size(), level);
    return std::string(buffer.data(), result.ptr);
}

bool ValidEndpointId(std::string_view id) {
    return !id.empty() && id.size() <= VolumeRestoreRecord::kMaxEndpointIdLength &&
           std::none_of(id.begin(), id.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

// The values of one record file, each at most once.
struct RecordFields {
    std::optional<std::string_view> endpoint;
    std::optional<std::string_view> muted;
    std::optional<std::string_view> steps;
    std::optional<std::string_view> volume;

    // False for an unknown or repeated key.
    bool Take(std::string_view key, std::string_view value) {
        std::optional<std::string_view>* slot = key == kEndpointKey ? &endpoint
                                                : key == kMutedKey  ? &muted
                                                : key == kStepsKey  ? &steps
                                                : key == kVolumeKey ? &volume
                                                                    : nullptr;
        if (slot == nullptr || slot->has_value()) {
            return false;
        }
        *slot = value;
        return true;
    }
};

// Splits "key=value" lines; a last line end is optional, a carriage return before it is
// dropped. False for a line without "=".
bool ForEachLine(std::string_view text,
                 const std::function<bool(std::string_view, std::string_view)>& take) {
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        std::string_view line = text.substr(0, end);
        text.remove_prefix(std::min(end + 1, text.size()));
        if (!line.empty() && line.back() == '\r') {
            line.remove_suffix(1);
        }
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos ||
            !take(line.substr(0, equals), line.substr(equals + 1))) {
            return false;
        }
    }
    return true;
}

}  // namespace

VolumeRestoreRecord VolumeRestoreRecord::Covering(const VolumeRestoreRecord& done,
                                                  const VolumeRestoreRecord& planned) {
    if (done.endpointId != planned.endpointId || done.ChangesNothing()) {
        return planned;
    }
    VolumeRestoreRecord cover = planned;
    cover.muted = done.muted || planned.muted;
    cover.volumeBefore = done.volumeBefore;
    const bool turning =
        (done.steps < 0 && planned.steps > 0) || (done.steps > 0 && planned.steps < 0);
    if (!turning && std::abs(done.steps) > std::abs(planned.steps)) {
        cover.steps = done.steps;
    }
    return cover;
}

std::string VolumeRestoreRecord::ToText() const {
    std::string text;
    text += std::string(kVersionKey) + "=" + std::to_string(kVersion) + "\n";
    text += std::string(kEndpointKey) + "=" + endpointId + "\n";
    text += std::string(kMutedKey) + "=" + (muted ? "1" : "0") + "\n";
    text += std::string(kStepsKey) + "=" +
            std::to_string(std::clamp(steps, -kMaxSteps, kMaxSteps)) + "\n";
    if (volumeBefore) {
        text += std::string(kVolumeKey) + "=" + FormatLevel(*volumeBefore) + "\n";
    }
    return text;
}

std::optional<VolumeRestoreRecord> VolumeRestoreRecord::FromText(std::string_view text) {
    if (text.size() > kMaxFileSize) {
        return std::nullopt;
    }
    bool versionSeen = false;
    RecordFields fields;
    const bool parsed = ForEachLine(text, [&](std::string_view key, std::string_view value) {
        if (!versionSeen) {
            versionSeen = key == kVersionKey && ParseNumber<int>(value) == kVersion;
            return versionSeen;
        }
        return fields.Take(key, value);
    });
    if (!parsed || !fields.endpoint || !fields.muted || !fields.steps) {
        return std::nullopt;
    }
    VolumeRestoreRecord record;
    record.endpointId = std::string(*fields.endpoint);
    record.muted = *fields.muted == "1";
    const std::optional<int> steps = ParseNumber<int>(*fields.steps);
    if (!ValidEndpointId(record.endpointId) || (!record.muted && *fields.muted != "0") || !steps ||
        std::abs(*steps) > kMaxSteps) {
        return std::nullopt;
    }
    record.steps = *steps;
    if (fields.volume) {
        record.volumeBefore = ParseNumber<float>(*fields.volume);
        if (!record.volumeBefore ||
            !(*record.volumeBefore >= 0.0f && *record.volumeBefore <= 1.0f)) {
            return std::nullopt;
        }
    }
    if (record.ChangesNothing()) {
        return std::nullopt;
    }
    return record;
}

std::string VolumeRestoreRecord::PathIn(const std::string& folder) {
    return folder + "/" + std::string(kFileName);
}

bool VolumeRestoreRecord::Save(const std::string& path) const {
    return ValidEndpointId(endpointId) && ReplaceFile(path, ToText());
}

void VolumeRestoreRecord::Remove(const std::string& path) {
    if (::unlink(path.c_str()) == 0) {
        SyncFolder(FolderOf(path));
    }
}

VolumeRestoreRecord::LoadResult VolumeRestoreRecord::Load(const std::string& path,
                                                          VolumeRestoreRecord& record) {
    std::string text;
    const LoadResult read = ReadBounded(path, kMaxFileSize, text);
    if (read != LoadResult::Loaded) {
        return read;
    }
    std::optional<VolumeRestoreRecord> parsed = FromText(text);
    if (!parsed) {
        return LoadResult::Damaged;
    }
    record = std::move(*parsed);
    return LoadResult::Loaded;
}

float VolumeRestoreRecord::RestoredLevel(float current, int steps, std::optional<float> before) {
    double level = current - steps * CVolumeManager::kStepLevel;
    if (before && steps < 0) {
        level = std::min(level, std::max<double>(current, *before));
    } else if (before && steps > 0) {
        level = std::max(level, std::min<double>(current, *before));
    }
    return static_cast<float>(std::clamp(level, 0.0, 1.0));
}

void VolumeRestoreRecord::UndoOn(EndpointVolume& volume) const {
    float current = 0.0f;
    if (steps != 0 && Succeeded(volume.GetMasterVolumeLevelScalar(current))) {
        volume.SetMasterVolumeLevelScalar(RestoredLevel(current, steps, volumeBefore));
    }
    if (muted) {
        volume.SetMute(false);
    }
}

VolumeRestoreRecord::RestoreResult VolumeRestoreRecord::RestoreLeftOver(AudioBackend& backend,
                                                                        const std::string& path,
                                                                        const LogFunction& log) {
    VolumeRestoreRecord record;
    switch (Load(path, record)) {
        case LoadResult::Missing:
            return RestoreResult::NothingLeft;
        case LoadResult::Damaged:
            Remove(path);
            log(kDamagedMessage);
            return RestoreResult::Damaged;
        case LoadResult::Loaded:
            break;
    }
    std::shared_ptr<AudioEndpoint> endpoint;
    std::unique_ptr<EndpointVolume> volume;
    AudioResult found = backend.GetAudioEndpoint(record.endpointId, endpoint);
    if (found == AudioResult::Ok) {
        found = endpoint->ActivateEndpointVolume(volume);
    }
    if (found == AudioResult::NotFound) {
        Remove(path);
        log(kEndpointGoneMessage);
        return RestoreResult::EndpointGone;
    }
    if (found != AudioResult::Ok || !volume) {
        return RestoreResult::ServerUnavailable;
    }
    record.UndoOn(*volume);
    Remove(path);
    log(kRestoredMessage);
    return RestoreResult::Restored;
}

}  // namespace hushwell
