#include "audio/EndpointClientList.h"

#include <algorithm>

namespace hushwell {

bool EndpointClientList::State::Contains(EndpointNotificationClient* client) {
    std::lock_guard lock(mutex);
    return std::find(clients.begin(), clients.end(), client) != clients.end();
}

EndpointClientList::EndpointClientList(NotificationDispatcher& dispatcher)
    : dispatcher_(dispatcher), state_(std::make_shared<State>()) {}

EndpointClientList::~EndpointClientList() {
    std::lock_guard lock(state_->mutex);
    state_->clients.clear();
}

AudioResult EndpointClientList::Add(EndpointNotificationClient* client) {
    if (client == nullptr) {
        return AudioResult::InvalidArgument;
    }
    std::lock_guard lock(state_->mutex);
    auto& clients = state_->clients;
    if (std::find(clients.begin(), clients.end(), client) == clients.end()) {
        clients.push_back(client);
    }
    return AudioResult::Ok;
}

AudioResult EndpointClientList::Remove(EndpointNotificationClient* client) {
    {
        std::lock_guard lock(state_->mutex);
        auto& clients = state_->clients;
        auto it = std::find(clients.begin(), clients.end(), client);
        if (it == clients.end()) {
            return AudioResult::NotFound;
        }
        clients.erase(it);
    }
    dispatcher_.WaitForRunningTask();
    return AudioResult::Ok;
}

void EndpointClientList::PostDefaultChanged(DataFlow flow, Role role, const std::string& id) {
    std::vector<EndpointNotificationClient*> clients;
    {
        std::lock_guard lock(state_->mutex);
        clients = state_->clients;
    }
    if (clients.empty()) {
        return;
    }
    dispatcher_.Post([state = state_, clients, flow, role, id] {
        for (EndpointNotificationClient* client : clients) {
            if (state->Contains(client)) {
                client->OnDefaultDeviceChanged(flow, role, id);
            }
        }
    });
}

}  // namespace hushwell
