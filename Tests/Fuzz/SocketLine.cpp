// One line as it arrives on the helper's socket: a request on the helper's side, a response or an event on
// the client's. A decoder answers a value or none; whatever it takes is written back as one line and read
// back unchanged, and the client's reading is "an event, else a response".

#include "FuzzSupport.h"

#include "CorvaneCore/Messaging/IPCProtocol.h"

namespace {

template <typename Message> void requireRoundTrip(const Message& message) {
    const std::optional<QByteArray> again = message.encode();
    fuzz::require(again.has_value(), "a decoded message encodes");
    fuzz::require(!again->contains('\n'), "an encoded message is one line");
    fuzz::require(Message::decode(*again) == message, "a decoded message reads back unchanged");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray line = fuzz::bytes(data, size);
    const std::optional<Request> request = Request::decode(line);
    const std::optional<Response> response = Response::decode(line);
    const std::optional<Event> event = Event::decode(line);
    const std::optional<InboundMessage> inbound = InboundMessage::decode(line);
    if (request)
        requireRoundTrip(*request);
    if (response)
        requireRoundTrip(*response);
    if (event)
        requireRoundTrip(*event);
    if (event)
        fuzz::require(inbound == InboundMessage{*event}, "an inbound line that is an event reads as one");
    else if (response)
        fuzz::require(inbound == InboundMessage{*response},
                      "an inbound line that is a response reads as one");
    else
        fuzz::require(!inbound, "an inbound line that is neither reads as nothing");
    return 0;
}
