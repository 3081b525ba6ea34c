#include "Corvane/Models/HelperConnection.h"

SocketHelperConnection::SocketHelperConnection()
    : link_(std::make_shared<HelperLink>()) {
    // The link's handlers forward to whatever the owner sets on this connection at the time.
    link_->onEvent = [this](const Event& event) {
        if (onEvent)
            onEvent(event);
    };
    link_->onStateChange = [this](State state) {
        if (onStateChange)
            onStateChange(state);
    };
}
