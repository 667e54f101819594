#include "audio/pulse/PulseEndpointVolume.h"

#include <pulse/def.h>
#include <pulse/introspect.h>

#include <utility>

#include "audio/VolumeScale.h"
#include "audio/pulse/PulseConnection.h"
#include "audio/pulse/PulseOperation.h"
#include "audio/pulse/PulseSuccessQuery.h"

namespace hushwell {

PulseEndpointVolume::PulseEndpointVolume(std::shared_ptr<PulseConnection> connection,
                                         std::string sinkName)
    : connection_(std::move(connection)), sinkName_(std::move(sinkName)) {}

AudioResult PulseEndpointVolume::SetMute(bool mute) {
    PulseLock lock(connection_->Mainloop());
    if (AudioResult ready = connection_->WaitReadyLocked(); ready != AudioResult::Ok) {
        return ready;
    }
    PulseSuccessQuery query;
    query.loop = &connection_->Mainloop();
    PulseOperation operation(
        pa_context_set_sink_mute_by_name(connection_->ContextLocked(), sinkName_.c_str(),
                                         mute ? 1 : 0, &PulseSuccessQuery::Callback, &query));
    return query.Await(*connection_, operation, "pa_context_set_sink_mute_by_name");
}

AudioResult PulseEndpointVolume::GetMasterVolumeLevelScalar(float& level) {
    PulseLock lock(connection_->Mainloop());
    PulseSinkInfo sink;
    if (AudioResult found = connection_->QuerySinkLocked(sinkName_, sink);
        found != AudioResult::Ok) {
        return found;
    }
    level = VolumeToScalar(pa_cvolume_max(&sink.volume));
    return AudioResult::Ok;
}

AudioResult PulseEndpointVolume::SetMasterVolumeLevelScalar(float level) {
    if (!(level >= 0.0f && level <= 1.0f)) {
        return AudioResult::InvalidArgument;
    }
    PulseLock lock(connection_->Mainloop());
    PulseSinkInfo sink;
    if (AudioResult found = connection_->QuerySinkLocked(sinkName_, sink);
        found != AudioResult::Ok) {
        return found;
    }
    pa_cvolume volume = sink.volume;
    if (pa_cvolume_max(&volume) > PA_VOLUME_MUTED) {
        balance_ = volume;  // the balance to come back to after a trip through 0
        haveBalance_ = true;
    } else if (haveBalance_ && balance_.channels == volume.channels) {
        volume = balance_;
    }
    const pa_volume_t target = ScalarToVolume(level);
    if (pa_cvolume_max(&volume) > PA_VOLUME_MUTED) {
        pa_cvolume_scale(&volume, target);
    } else {
        pa_cvolume_set(&volume, volume.channels, target);
    }
    PulseSuccessQuery query;
    query.loop = &connection_->Mainloop();
    PulseOperation operation(
        pa_context_set_sink_volume_by_name(connection_->ContextLocked(), sinkName_.c_str(), &volume,
                                           &PulseSuccessQuery::Callback, &query));
    return query.Await(*connection_, operation, "pa_context_set_sink_volume_by_name");
}

}  // namespace hushwell
