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
#include <vector>

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
constexpr std::string_view kStreamKey = "stream";
constexpr char kFieldSeparator = '\t';
constexpr std::string_view kUnchanged = "-";
constexpr std::size_t kStreamFields = 6;

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

bool ValidProgramName(std::string_view name) {
    return name.size() <= VolumeRestoreRecord::kMaxProgramNameLength &&
           std::none_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; });
}

std::string FormatOptionalLevel(const std::optional<float>& level) {
    return level ? FormatLevel(*level) : std::string(kUnchanged);
}

// One "stream=" value, or nothing for a change that cannot be written (or changes nothing).
std::optional<std::string> FormatStream(const StreamChange& change) {
    if ((!change.ChangesMute() && !change.ChangesVolume()) || change.program.IsUnknown() ||
        !ValidProgramName(change.program.binary) ||
        !ValidProgramName(change.program.applicationName)) {
        return std::nullopt;
    }
    const std::string mute =
        change.ChangesMute() ? (*change.muteSet ? "1" : "0") : std::string(kUnchanged);
    const bool volume = change.ChangesVolume();
    std::string text = std::to_string(change.index);
    for (const std::string& field :
         {mute, volume ? FormatOptionalLevel(change.volumeBefore) : std::string(kUnchanged),
          volume ? FormatOptionalLevel(change.volumeSet) : std::string(kUnchanged),
          change.program.binary, change.program.applicationName}) {
        text += kFieldSeparator;
        text += field;
    }
    return text;
}

// The tab-separated fields of a "stream=" value; one more than a stream has is enough to
// tell a line with too many.
std::vector<std::string_view> SplitFields(std::string_view text) {
    std::vector<std::string_view> fields;
    while (fields.size() <= kStreamFields) {
        const std::size_t end = std::min(text.find(kFieldSeparator), text.size());
        fields.push_back(text.substr(0, end));
        if (end == text.size()) {
            break;
        }
        text.remove_prefix(end + 1);
    }
    return fields;
}

std::optional<float> ParseLevel(std::string_view text) {
    const std::optional<float> level = ParseNumber<float>(text);
    if (!level || !(*level >= 0.0f && *level <= 1.0f)) {
        return std::nullopt;
    }
    return level;
}

std::optional<StreamChange> ParseStream(std::string_view text) {
    const std::vector<std::string_view> fields = SplitFields(text);
    if (fields.size() != kStreamFields) {
        return std::nullopt;
    }
    StreamChange change;
    const std::optional<std::uint32_t> index = ParseNumber<std::uint32_t>(fields[0]);
    if (!index || *index == PlaybackStream::kNoIndex) {
        return std::nullopt;
    }
    change.index = *index;
    if (fields[1] == "1" || fields[1] == "0") {
        change.muteSet = fields[1] == "1";
        change.muteBefore = !*change.muteSet;
    } else if (fields[1] != kUnchanged) {
        return std::nullopt;
    }
    if (fields[2] != kUnchanged || fields[3] != kUnchanged) {
        change.volumeBefore = ParseLevel(fields[2]);
        change.volumeSet = ParseLevel(fields[3]);
        if (!change.volumeBefore || !change.volumeSet) {
            return std::nullopt;
        }
        if (*change.volumeBefore == *change.volumeSet) {
            // The same level before and after is no volume change; it is written back as one.
            change.volumeBefore.reset();
            change.volumeSet.reset();
        }
    }
    change.program.binary = std::string(fields[4]);
    change.program.applicationName = std::string(fields[5]);
    if ((!change.ChangesMute() && !change.ChangesVolume()) || change.program.IsUnknown() ||
        !ValidProgramName(change.program.binary) ||
        !ValidProgramName(change.program.applicationName)) {
        return std::nullopt;
    }
    return change;
}

// The values of one record file, each at most once.
struct RecordFields {
    std::optional<std::string_view> endpoint;
    std::optional<std::string_view> muted;
    std::optional<std::string_view> steps;
    std::optional<std::string_view> volume;
    std::vector<std::string_view> streams;

    // False for an unknown or repeated key (only streams repeat, up to kMaxStreams).
    bool Take(std::string_view key, std::string_view value) {
        if (key == kStreamKey) {
            streams.push_back(value);
            return streams.size() <= VolumeRestoreRecord::kMaxStreams;
        }
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

VolumeRestoreRecord VolumeRestoreRecord::WithStreams(std::vector<StreamChange> changed) const {
    VolumeRestoreRecord record = *this;
    record.streams = std::move(changed);
    return record;
}

std::string VolumeRestoreRecord::ToText() const {
    std::string text;
    text += std::string(kVersionKey) + "=" + std::to_string(kVersion) + "\n";
    if (ChangesOutput() || streams.empty()) {
        text += std::string(kEndpointKey) + "=" + endpointId + "\n";
        text += std::string(kMutedKey) + "=" + (muted ? "1" : "0") + "\n";
        text += std::string(kStepsKey) + "=" +
                std::to_string(std::clamp(steps, -kMaxSteps, kMaxSteps)) + "\n";
        if (volumeBefore) {
            text += std::string(kVolumeKey) + "=" + FormatLevel(*volumeBefore) + "\n";
        }
    }
    std::size_t written = 0;
    for (const StreamChange& change : streams) {
        const std::optional<std::string> line = FormatStream(change);
        if (line && written < kMaxStreams) {
            text += std::string(kStreamKey) + "=" + *line + "\n";
            ++written;
        }
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
    if (!parsed) {
        return std::nullopt;
    }
    VolumeRestoreRecord record;
    for (const std::string_view line : fields.streams) {
        std::optional<StreamChange> change = ParseStream(line);
        if (!change) {
            return std::nullopt;
        }
        record.streams.push_back(std::move(*change));
    }
    const bool outputPart = fields.endpoint || fields.muted || fields.steps || fields.volume;
    if (!outputPart && !record.streams.empty()) {
        return record;  // only program streams were changed
    }
    if (!fields.endpoint || !fields.muted || !fields.steps) {
        return std::nullopt;
    }
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
    if (!record.ChangesOutput()) {
        // Beside program streams, an output part that changes nothing is not written back:
        // the record is the streams alone.
        VolumeRestoreRecord streamsOnly;
        streamsOnly.streams = std::move(record.streams);
        return streamsOnly;
    }
    return record;
}

std::string VolumeRestoreRecord::PathIn(const std::string& folder) {
    return folder + "/" + std::string(kFileName);
}

bool VolumeRestoreRecord::Save(const std::string& path, std::error_code* error) const {
    errno = EINVAL;
    const bool valid = ValidEndpointId(endpointId) || (!ChangesOutput() && !streams.empty());
    const bool saved = valid && ReplaceFile(path, ToText());
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

void VolumeRestoreRecord::UndoStream(const StreamChange& change, const PlaybackStream& now,
                                     EndpointVolume& volume) {
    if (change.ChangesVolume() && std::abs(now.volume - *change.volumeSet) <= kSameLevel) {
        volume.SetMasterVolumeLevelScalar(*change.volumeBefore);
    }
    if (change.ChangesMute() && now.muted == *change.muteSet) {
        volume.SetMute(*change.muteBefore);
    }
}

void VolumeRestoreRecord::UndoStreams(AudioBackend& backend) const {
    std::vector<PlaybackStream> playing;
    backend.ListPlaybackStreams(playing);
    for (const StreamChange& change : streams) {
        const auto now = std::find_if(playing.begin(), playing.end(), [&](const auto& stream) {
            return stream.index == change.index && stream.program == change.program;
        });
        std::unique_ptr<EndpointVolume> volume;
        if (now != playing.end() &&
            backend.ActivateStreamVolume(change.index, volume) == AudioResult::Ok) {
            UndoStream(change, *now, *volume);  // the server remembers what the stream has
        } else {
            backend.GiveBackRememberedState(change);
        }
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
    // Nothing is undone before the server has answered for both parts: a record that stays
    // for a later start must not be undone twice.
    std::vector<PlaybackStream> playing;
    if (!record.streams.empty() && backend.ListPlaybackStreams(playing) != AudioResult::Ok) {
        return RestoreResult::ServerUnavailable;
    }
    std::unique_ptr<EndpointVolume> volume;
    AudioResult found = AudioResult::Ok;
    if (record.ChangesOutput()) {
        std::shared_ptr<AudioEndpoint> endpoint;
        found = backend.GetAudioEndpoint(record.endpointId, endpoint);
        if (found == AudioResult::Ok) {
            found = endpoint->ActivateEndpointVolume(volume);
        }
        if ((found != AudioResult::Ok && found != AudioResult::NotFound) ||
            (found == AudioResult::Ok && !volume)) {
            return RestoreResult::ServerUnavailable;
        }
    }
    if (found == AudioResult::NotFound && record.streams.empty()) {
        std::error_code error;
        if (Remove(path, &error)) {
            log(kEndpointGoneMessage);
        } else {
            log(std::string(kDamagedKeptMessage) + path + " (" + error.message() + ").");
        }
        return RestoreResult::EndpointGone;
    }
    if (volume) {
        record.UndoOn(*volume);
    }
    record.UndoStreams(backend);
    Remove(path);
    log(kRestoredMessage);
    return RestoreResult::Restored;
}

}  // namespace hushwell
