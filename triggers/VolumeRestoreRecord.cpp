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
#include <cstring>
#include <memory>

#include "audio/AudioBackend.h"
#include "audio/AudioEndpoint.h"
#include "audio/EndpointVolume.h"
#include "base/DurableWrite.h"
#include "base/SafeFileOpen.h"
#include "triggers/VolumeManager.h"

namespace hushwell {

namespace {

constexpr mode_t kFileMode = 0600;
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

// Writes the content to a new temporary file beside the target (created exclusively, never
// one already there), flushes it to the disk and renames it over the target, so the target is
// always either the old or the new file. False with errno set when it could not be written.
bool ReplaceFile(const std::string& path, std::string_view contents) {
    std::string temporary;
    FileDescriptor file(CreateTemporaryBeside(path, kFileMode, temporary));
    if (!file.Valid()) {
        return false;
    }
    // The record is the user's alone, whatever the umask.
    bool written = ::fchmod(file.Get(), kFileMode) == 0;
    written = written && WriteAll(file.Get(), contents) && ::fsync(file.Get()) == 0;
    const bool closed = file.Close();
    if (!written || !closed || ::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        errno = error;
        return false;
    }
    SyncFolder(FolderOf(path));
    return true;
}

// Reads at most `limit` + 1 bytes, so a larger file is seen without reading it all. Only a
// regular file is read, and opening never blocks (a FIFO at the path is damaged, not waited
// on); a link is not followed. problem says what made the file unreadable.
VolumeRestoreRecord::LoadResult ReadBounded(const std::string& path, std::size_t limit,
                                            std::string& text, std::string& problem) {
    using Result = VolumeRestoreRecord::LoadResult;
    FileDescriptor file(OpenRegularFile(path, O_RDONLY, 0, true, &problem));
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
            problem = std::strerror(errno);
            return Result::Damaged;
        }
        if (got == 0) {
            return Result::Loaded;
        }
        text.append(buffer.data(), static_cast<std::size_t>(got));
    }
    problem = "is too large";
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

// Removes a damaged record; the log line names the path and the reasons when it stays.
void RemoveDamaged(const std::string& path, const std::string& problem,
                   const VolumeRestoreRecord::LogFunction& log) {
    std::error_code error;
    if (VolumeRestoreRecord::Remove(path, &error)) {
        log(VolumeRestoreRecord::kDamagedMessage);
    } else {
        log(std::string(VolumeRestoreRecord::kDamagedKeptMessage) + path + " " + problem + " (" +
            error.message() + ").");
    }
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
    // Wider than int, and compared before any arithmetic: no count in the file can overflow.
    const std::optional<long long> steps = ParseNumber<long long>(*fields.steps);
    if (!ValidEndpointId(record.endpointId) || (!record.muted && *fields.muted != "0") || !steps ||
        *steps < -kMaxSteps || *steps > kMaxSteps) {
        return std::nullopt;
    }
    record.steps = static_cast<int>(*steps);
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

bool VolumeRestoreRecord::Save(const std::string& path, std::error_code* error) const {
    errno = EINVAL;
    const bool saved = ValidEndpointId(endpointId) && ReplaceFile(path, ToText());
    if (error != nullptr) {
        *error = saved ? std::error_code() : std::error_code(errno, std::generic_category());
    }
    return saved;
}

bool VolumeRestoreRecord::Remove(const std::string& path, std::error_code* error) {
    const bool removed = ::unlink(path.c_str()) == 0;
    const int reason = errno;
    if (removed) {
        SyncFolder(FolderOf(path));
    }
    const bool gone = removed || reason == ENOENT;
    if (error != nullptr) {
        *error = gone ? std::error_code() : std::error_code(reason, std::generic_category());
    }
    return gone;
}

VolumeRestoreRecord::LoadResult VolumeRestoreRecord::Load(const std::string& path,
                                                          VolumeRestoreRecord& record,
                                                          std::string* problem) {
    std::string text;
    std::string why;
    const LoadResult read = ReadBounded(path, kMaxFileSize, text, why);
    if (read == LoadResult::Loaded) {
        std::optional<VolumeRestoreRecord> parsed = FromText(text);
        if (parsed) {
            record = std::move(*parsed);
            return LoadResult::Loaded;
        }
        why = "does not hold a valid record";
    }
    if (problem != nullptr) {
        *problem = why;
    }
    return read == LoadResult::Missing ? LoadResult::Missing : LoadResult::Damaged;
}

float VolumeRestoreRecord::RestoredLevel(float current, int steps, std::optional<float> before) {
    double level = current - steps * VolumeManager::kStepLevel;
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
    std::string problem;
    switch (Load(path, record, &problem)) {
        case LoadResult::Missing:
            return RestoreResult::NothingLeft;
        case LoadResult::Damaged:
            RemoveDamaged(path, problem, log);
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
        std::error_code error;
        if (Remove(path, &error)) {
            log(kEndpointGoneMessage);
        } else {
            log(std::string(kDamagedKeptMessage) + path + " (" + error.message() + ").");
        }
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
