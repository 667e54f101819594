#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "audio/AudioResult.h"
#include "audio/EndpointNotificationClient.h"
#include "audio/NotificationDispatcher.h"

namespace hushwell {

// The listeners for default-device changes of one backend, and their delivery on the layer's
// notification thread. A client is told only if it is still registered when the delivery
// runs, and once Remove has returned it is never called again.
//
// Threads: every method may be called from any thread. The dispatcher must outlive the
// deliveries it runs; the list itself may go first (pending deliveries then find no client).
class EndpointClientList {
public:
    explicit EndpointClientList(NotificationDispatcher& dispatcher);
    ~EndpointClientList();
    EndpointClientList(const EndpointClientList&) = delete;
    EndpointClientList& operator=(const EndpointClientList&) = delete;

    // Registering a client twice keeps one entry.
    AudioResult Add(EndpointNotificationClient* client);
    // Waits out a delivery that is running at the time of the call, unless called from it.
    AudioResult Remove(EndpointNotificationClient* client);

    // Tells every client registered now, on the notification thread.
    void PostDefaultChanged(DataFlow flow, Role role, const std::string& id);

private:
    // Shared with the posted deliveries, so they never touch a list that is gone.
    struct State {
        std::mutex mutex;
        std::vector<EndpointNotificationClient*> clients;
        bool Contains(EndpointNotificationClient* client);
    };

    NotificationDispatcher& dispatcher_;
    std::shared_ptr<State> state_;
};

}  // namespace hushwell
