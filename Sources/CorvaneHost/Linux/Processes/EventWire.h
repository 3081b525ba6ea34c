#pragma once

// The wire format of the events programs send each other on this machine, in plain C++: the hand-off
// program that the desktop starts for a link speaks it without Qt, and EventDelivery speaks it for every
// other program. One line of JSON:
//
//   {"events":[{"class":"GURL","id":"GURL","object":"<link text>","sender":<pid>},
//              {"class":"aevt","id":"odoc","documents":["file:///…"]}],
//    "delivery":"<mark>"}
//
// Texts are UTF-8 and travel unchanged: a link's text is what its sender wrote. The listener answers a line
// with kHandledAnswer once it has handled its events, or kUndecodableAnswer; a sender that got no answer
// cannot tell whether they were handled and hands them over again under the same "delivery" mark, so the
// listener that did handle them takes the repeat without handling it twice. Readers that predate the mark
// ignore it, as they ignore any member they do not know.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace host {

// A program started for events finds them in this environment variable, in the wire format.
inline constexpr char kLaunchEventsVariable[] = "CORVANE_HOST_LAUNCH_EVENTS";

namespace wire {

struct Event {
    std::string eventClass;
    std::string eventID;
    std::optional<std::string> object;  // the direct object: a link's text
    std::vector<std::string> documents; // file URLs
    std::optional<std::int32_t> sender; // the sender's process identifier

    bool operator==(const Event&) const = default;
};

inline constexpr char kHandledAnswer[] = "ok";
inline constexpr char kUndecodableAnswer[] = "error";

// Events as one hand-over: `deliveryID` is empty when the sender never hands them over again.
struct HandOver {
    std::vector<Event> events;
    std::string deliveryID;
};

std::string encode(const std::vector<Event>& events, std::string_view deliveryID = {});
// None unless the text is a list of events as encode writes it: an object whose "events" is an array of
// objects, each with a string "class" and "id". Members of other kinds are ignored, as are documents that
// are not strings, a sender that is not a process identifier and a mark that is not a string.
std::optional<HandOver> decodeHandOver(std::string_view text);
std::optional<std::vector<Event>> decode(std::string_view text);

// A mark no other hand-over on this machine carries.
std::string newDeliveryID();

// The socket's file name for the events of the program with that bundle identifier ("<identifier>.events");
// empty when the identifier is not a plain name that can become a file name.
std::string eventSocketName(std::string_view bundleIdentifier);

// The event socket's path as the host's folders place it in the usual case: the per-user runtime folder
// (XDG_RUNTIME_DIR, else /tmp/corvane-<uid>) when it is this user's own and private and the path fits a
// socket address. None when one of the host's rarer placements would apply; a caller without Qt then leaves
// the delivery to the program itself.
std::optional<std::string> usualEventSocketPath(std::string_view bundleIdentifier);

} // namespace wire
} // namespace host
