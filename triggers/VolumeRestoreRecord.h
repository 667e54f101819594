#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "audio/PlaybackStream.h"

namespace hushwell {

class AudioBackend;
class EndpointVolume;

// What the volume manager has changed on one output and not yet undone, kept in a small file
// in the application data folder so that a run that ends without undoing (killed, crashed,
// power cut) can be undone at the next start.
//
// The file is plain UTF-8 text, one "key=value" per line, in this order:
//   version=1
//   endpoint=<the output's id>
//   muted=0 or 1        the manager muted the output
//   steps=<n>           net 1 % volume steps taken or being taken (negative = lowered)
//   volume=<0..1>       the master volume before the first change; left out when unknown
//   stream=<index>\t<mute>\t<volume before>\t<volume set>\t<binary>\t<application name>
//                       one line for each program stream changed, after the output's lines
//                       (which are left out when only program streams were changed): mute is
//                       "1" (muted by the manager), "0" (unmuted by it) or "-" (not changed);
//                       the volumes are "-" when not changed
// It is replaced atomically (temporary file, flushed, renamed) and read defensively: a file
// larger than kMaxFileSize, of another version, with a missing, repeated or unknown key, a
// value out of range, or one that changes nothing is damaged.
//
// Undoing gives back only what the record names: it unmutes only when the manager muted, and
// moves the volume back by the recorded steps but never past the volume before (the user may
// have moved the slider meanwhile, and a ramp may have ended part-way). A program stream is
// given back only while it still plays for the same program and still has the mute (or
// volume, within half a step) that was set; the sound server's memory of that program's mute
// and volume for its next stream is given back the same way.
//
// A plain value; the file functions may be called from any thread, one writer per file.
class VolumeRestoreRecord {
public:
    static constexpr std::string_view kFileName = "HushwellOutput.txt";
    static constexpr int kVersion = 1;
    static constexpr std::size_t kMaxFileSize = 65536;
    static constexpr std::size_t kMaxEndpointIdLength = 1024;
    // Program streams kept at most, and the longest program name kept; streams beyond them,
    // or with names that hold control characters, are left out of the file.
    static constexpr std::size_t kMaxStreams = 64;
    static constexpr std::size_t kMaxProgramNameLength = 256;
    // A stream within this of the level set still has it (the server rounds levels).
    static constexpr float kSameLevel = 0.005f;
    // More steps than the whole volume range; larger counts are written as this.
    static constexpr int kMaxSteps = 1000;

    static constexpr std::string_view kRestoredMessage =
        "Restored the output after an unexpected end.";
    static constexpr std::string_view kDamagedMessage =
        "Removed a damaged record of changes to the output.";
    static constexpr std::string_view kEndpointGoneMessage =
        "Removed the record of changes to an output that is gone.";
    // Followed by the path and why it stays, when a damaged record cannot be removed.
    static constexpr std::string_view kDamagedKeptMessage =
        "Could not remove a damaged record of changes to the output: ";

    std::string endpointId;
    bool muted = false;
    int steps = 0;
    std::optional<float> volumeBefore;
    std::vector<StreamChange> streams;  // the program streams changed

    bool operator==(const VolumeRestoreRecord&) const = default;

    // The output itself was changed.
    bool ChangesOutput() const { return muted || steps != 0; }
    // A record that names no change is never kept: its file is removed instead.
    bool ChangesNothing() const { return !ChangesOutput() && streams.empty(); }
    // The output's part of this record with the given program streams.
    VolumeRestoreRecord WithStreams(std::vector<StreamChange> changed) const;

    // A record that undoes both what `done` names and what `planned` will name once the
    // changes under way are made: kept while they are made. The larger of two step counts of
    // the same direction; when the direction turns, the planned one.
    static VolumeRestoreRecord Covering(const VolumeRestoreRecord& done,
                                        const VolumeRestoreRecord& planned);

    std::string ToText() const;
    static std::optional<VolumeRestoreRecord> FromText(std::string_view text);

    // The record's file in the application data folder.
    static std::string PathIn(const std::string& folder);

    // Replaces the file atomically, through a new temporary file of mode rw------- (nothing
    // already at a temporary name is followed or reused). False when it could not be written,
    // with error (when given) saying why; the previous file is then unchanged.
    bool Save(const std::string& path, std::error_code* error = nullptr) const;
    // True when nothing is left at the path; false, with error (when given), when something
    // there could not be removed (a folder, a read-only data folder).
    static bool Remove(const std::string& path, std::error_code* error = nullptr);

    // Only a regular file is read: opening never blocks and never follows a link, so a FIFO,
    // a folder or a link at the path is Damaged, with problem (when given) saying which.
    enum class LoadResult { Missing, Loaded, Damaged };
    static LoadResult Load(const std::string& path, VolumeRestoreRecord& record,
                           std::string* problem = nullptr);

    // The level that gives back `steps` from `current`, never past `before` (when known) and
    // never moving away from it.
    static float RestoredLevel(float current, int steps, std::optional<float> before);

    // Undoes the record on an output's volume: the volume first, then the mute.
    void UndoOn(EndpointVolume& volume) const;
    // Gives back one program stream through its volume object, as described above; `now`
    // is the stream as the server lists it now.
    static void UndoStream(const StreamChange& change, const PlaybackStream& now,
                           EndpointVolume& volume);
    // Gives back the recorded program streams that still play, and the server's memory of
    // those programs' mute and volume.
    void UndoStreams(AudioBackend& backend) const;

    // Start-up: undoes a record that a run left behind and removes its file, logging
    // kRestoredMessage. A damaged file, or one naming an output that is gone, is removed with
    // one log line; one that cannot be removed is named, with the reason, in that line
    // instead (kDamagedKeptMessage). When the sound server cannot be reached the file is left
    // for a later start.
    enum class RestoreResult { NothingLeft, Restored, Damaged, EndpointGone, ServerUnavailable };
    using LogFunction = std::function<void(std::string_view)>;
    static RestoreResult RestoreLeftOver(AudioBackend& backend, const std::string& path,
                                         const LogFunction& log);
};

}  // namespace hushwell
