#include "audio/pulse/PulsePlaybackStreams.h"

#include <pulse/def.h>
#include <pulse/ext-stream-restore.h>
#include <pulse/introspect.h>
#include <pulse/proplist.h>

#include <cmath>
#include <map>
#include <string>
#include <utility>

#include "audio/VolumeScale.h"
#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseOperation.h"
#include "audio/pulse/PulseSuccessQuery.h"

namespace hushwell {

namespace {

struct SinkNamesQuery {
    PulseMainloop* loop = nullptr;
    bool done = false;
    std::map<std::uint32_t, std::string> names;
};

struct StreamListQuery {
    PulseMainloop* loop = nullptr;
    bool done = false;
    bool found = false;
    std::vector<PlaybackStream> streams;
    std::vector<pa_cvolume> volumes;
    std::vector<std::uint32_t> sinks;  // the index of each stream's sink
};

std::string Property(const pa_proplist* properties, const char* key) {
    const char* value = properties != nullptr ? pa_proplist_gets(properties, key) : nullptr;
    return value != nullptr ? value : "";
}

void AddStream(const pa_sink_input_info& info, StreamListQuery& query) {
    PlaybackStream stream;
    stream.index = info.index;
    stream.program.binary = Property(info.proplist, PA_PROP_APPLICATION_PROCESS_BINARY);
    stream.program.applicationName = Property(info.proplist, PA_PROP_APPLICATION_NAME);
    stream.corked = info.corked != 0;
    stream.muted = info.mute != 0;
    stream.volume = VolumeToScalar(pa_cvolume_max(&info.volume));
    query.streams.push_back(std::move(stream));
    query.volumes.push_back(info.volume);
    query.sinks.push_back(info.sink);
    query.found = true;
}

void StreamInfoCallback(pa_context*, const pa_sink_input_info* info, int eol, void* userdata) {
    auto* query = static_cast<StreamListQuery*>(userdata);
    if (info != nullptr) {
        AddStream(*info, *query);
    }
    if (eol != 0) {
        query->done = true;
        query->loop->Signal();
    }
}

// One remembered entry of the stream-restore database, copied out of the callback.
struct RememberedEntry {
    std::string name;
    std::string device;
    pa_channel_map map{};
    pa_cvolume volume{};
    bool mute = false;
};

struct RememberedQuery {
    PulseMainloop* loop = nullptr;
    bool done = false;
    bool failed = false;
    std::vector<RememberedEntry> entries;
};

constexpr const char* kByApplicationName = "sink-input-by-application-name:";

// The entry names under which a server remembers a program's playback streams.
bool NamesProgram(const std::string& entry, const ProgramIdentity& program) {
    for (const char* prefix : {kByApplicationName, "sink-input-by-application-id:",
                               "sink-input-by-application-process-binary:"}) {
        const std::string_view key(prefix);
        if (entry.starts_with(key)) {
            const std::string value = entry.substr(key.size());
            return (!program.applicationName.empty() && value == program.applicationName) ||
                   (!program.binary.empty() && value == program.binary);
        }
    }
    return false;
}

// Puts the entry's mute and volume back where they still hold what the change set; true when
// the entry changed.
bool GiveBack(RememberedEntry& entry, const StreamChange& change) {
    bool changed = false;
    if (change.ChangesMute() && entry.mute == *change.muteSet) {
        entry.mute = *change.muteBefore;
        changed = true;
    }
    if (change.ChangesVolume() && entry.volume.channels > 0) {
        const float level = VolumeToScalar(pa_cvolume_max(&entry.volume));
        if (std::abs(level - *change.volumeSet) <= 0.005f) {
            const pa_volume_t target = ScalarToVolume(*change.volumeBefore);
            if (pa_cvolume_max(&entry.volume) > PA_VOLUME_MUTED) {
                pa_cvolume_scale(&entry.volume, target);
            } else {
                pa_cvolume_set(&entry.volume, entry.volume.channels, target);
            }
            changed = true;
        }
    }
    return changed;
}

AudioResult QuerySinkNamesByIndexLocked(PulseConnection& connection,
                                        std::map<std::uint32_t, std::string>& names) {
    SinkNamesQuery query;
    query.loop = &connection.Mainloop();
    PulseOperation operation(pa_context_get_sink_info_list(
        connection.ContextLocked(),
        [](pa_context*, const pa_sink_info* sink, int eol, void* userdata) {
            auto* q = static_cast<SinkNamesQuery*>(userdata);
            if (sink != nullptr && sink->name != nullptr) {
                q->names[sink->index] = sink->name;
            }
            if (eol != 0) {
                q->done = true;
                q->loop->Signal();
            }
        },
        &query));
    const AudioResult result =
        connection.AwaitLocked(operation, query.done, "pa_context_get_sink_info_list");
    if (result == AudioResult::Ok) {
        names = std::move(query.names);
    }
    return result;
}

}  // namespace

AudioResult ListPlaybackStreamsLocked(PulseConnection& connection,
                                      std::vector<PlaybackStream>& streams) {
    if (AudioResult ready = connection.WaitReadyLocked(); ready != AudioResult::Ok) {
        return ready;
    }
    std::map<std::uint32_t, std::string> sinkNames;
    if (AudioResult sinks = QuerySinkNamesByIndexLocked(connection, sinkNames);
        sinks != AudioResult::Ok) {
        return sinks;
    }
    StreamListQuery query;
    query.loop = &connection.Mainloop();
    PulseOperation operation(pa_context_get_sink_input_info_list(connection.ContextLocked(),
                                                                 &StreamInfoCallback, &query));
    const AudioResult result =
        connection.AwaitLocked(operation, query.done, "pa_context_get_sink_input_info_list");
    if (result != AudioResult::Ok) {
        return result;
    }
    for (std::size_t n = 0; n < query.streams.size(); ++n) {
        const auto sink = sinkNames.find(query.sinks[n]);
        query.streams[n].outputId = sink != sinkNames.end() ? sink->second : std::string();
    }
    streams = std::move(query.streams);
    return AudioResult::Ok;
}

AudioResult GiveBackRememberedStateLocked(PulseConnection& connection, const StreamChange& change) {
    if (AudioResult ready = connection.WaitReadyLocked(); ready != AudioResult::Ok) {
        return ready;
    }
    RememberedQuery query;
    query.loop = &connection.Mainloop();
    PulseOperation read(pa_ext_stream_restore_read(
        connection.ContextLocked(),
        [](pa_context*, const pa_ext_stream_restore_info* info, int eol, void* userdata) {
            auto* q = static_cast<RememberedQuery*>(userdata);
            if (info != nullptr && info->name != nullptr) {
                q->entries.push_back({info->name, info->device != nullptr ? info->device : "",
                                      info->channel_map, info->volume, info->mute != 0});
            }
            if (eol != 0) {
                q->failed = eol < 0;
                q->done = true;
                q->loop->Signal();
            }
        },
        &query));
    if (!read.Started()) {
        return AudioResult::Unsupported;
    }
    if (AudioResult result = connection.AwaitLocked(read, query.done, "pa_ext_stream_restore_read");
        result != AudioResult::Ok) {
        return result;
    }
    if (query.failed) {
        return AudioResult::Unsupported;  // the server keeps no such memory
    }
    std::vector<RememberedEntry> changed;
    bool listed = false;
    for (RememberedEntry& entry : query.entries) {
        if (NamesProgram(entry.name, change.program)) {
            listed = true;
            if (GiveBack(entry, change)) {
                changed.push_back(entry);
            }
        }
    }
    // pipewire-pulse lists only part of what WirePlumber remembers, but takes every entry
    // written: a mute is given back by name, without a volume (which it would replace).
    if (!listed && change.ChangesMute() && !change.program.applicationName.empty()) {
        RememberedEntry entry;
        entry.name = kByApplicationName + change.program.applicationName;
        entry.mute = *change.muteBefore;
        changed.push_back(entry);
    }
    if (changed.empty()) {
        return AudioResult::Ok;
    }
    std::vector<pa_ext_stream_restore_info> infos;
    for (const RememberedEntry& entry : changed) {
        pa_ext_stream_restore_info info{};
        info.name = entry.name.c_str();
        info.channel_map = entry.map;
        info.volume = entry.volume;
        info.device = entry.device.empty() ? nullptr : entry.device.c_str();
        info.mute = entry.mute ? 1 : 0;
        infos.push_back(info);
    }
    PulseSuccessQuery written;
    written.loop = &connection.Mainloop();
    PulseOperation write(pa_ext_stream_restore_write(
        connection.ContextLocked(), PA_UPDATE_REPLACE, infos.data(),
        static_cast<unsigned>(infos.size()), 0, &PulseSuccessQuery::Callback, &written));
    return written.Await(connection, write, "pa_ext_stream_restore_write");
}

PulseStreamVolume::PulseStreamVolume(std::shared_ptr<PulseConnection> connection,
                                     std::uint32_t streamIndex)
    : connection_(std::move(connection)), index_(streamIndex) {}

AudioResult PulseStreamVolume::QueryVolumeLocked(pa_cvolume& volume) {
    if (AudioResult ready = connection_->WaitReadyLocked(); ready != AudioResult::Ok) {
        return ready;
    }
    StreamListQuery query;
    query.loop = &connection_->Mainloop();
    PulseOperation operation(pa_context_get_sink_input_info(connection_->ContextLocked(), index_,
                                                            &StreamInfoCallback, &query));
    const AudioResult result =
        connection_->AwaitLocked(operation, query.done, "pa_context_get_sink_input_info");
    if (result != AudioResult::Ok) {
        return result;
    }
    if (!query.found) {
        return AudioResult::NotFound;
    }
    volume = query.volumes.front();
    return AudioResult::Ok;
}

AudioResult PulseStreamVolume::SetMute(bool mute) {
    PulseLock lock(connection_->Mainloop());
    if (AudioResult ready = connection_->WaitReadyLocked(); ready != AudioResult::Ok) {
        return ready;
    }
    PulseSuccessQuery query;
    query.loop = &connection_->Mainloop();
    PulseOperation operation(pa_context_set_sink_input_mute(
        connection_->ContextLocked(), index_, mute ? 1 : 0, &PulseSuccessQuery::Callback, &query));
    return query.Await(*connection_, operation, "pa_context_set_sink_input_mute");
}

AudioResult PulseStreamVolume::GetMasterVolumeLevelScalar(float& level) {
    PulseLock lock(connection_->Mainloop());
    pa_cvolume volume{};
    if (AudioResult found = QueryVolumeLocked(volume); found != AudioResult::Ok) {
        return found;
    }
    level = VolumeToScalar(pa_cvolume_max(&volume));
    return AudioResult::Ok;
}

AudioResult PulseStreamVolume::SetMasterVolumeLevelScalar(float level) {
    if (!(level >= 0.0f && level <= 1.0f)) {
        return AudioResult::InvalidArgument;
    }
    PulseLock lock(connection_->Mainloop());
    pa_cvolume volume{};
    if (AudioResult found = QueryVolumeLocked(volume); found != AudioResult::Ok) {
        return found;
    }
    const pa_volume_t target = ScalarToVolume(level);
    if (pa_cvolume_max(&volume) > PA_VOLUME_MUTED) {
        pa_cvolume_scale(&volume, target);
    } else {
        pa_cvolume_set(&volume, volume.channels, target);
    }
    PulseSuccessQuery query;
    query.loop = &connection_->Mainloop();
    PulseOperation operation(pa_context_set_sink_input_volume(
        connection_->ContextLocked(), index_, &volume, &PulseSuccessQuery::Callback, &query));
    return query.Await(*connection_, operation, "pa_context_set_sink_input_volume");
}

}  // namespace hushwell
