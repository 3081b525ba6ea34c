#include "CorvaneHost/Linux/Processes/EventWire.h"

#include <cstdlib>
#include <random>
#include <sys/stat.h>
#include <unistd.h>

namespace host::wire {
namespace {

// The socket address limit the host's folders keep to (Folders.h).
constexpr std::size_t kSocketPathLimit = 100;
// Deeper nesting than any event list has is refused rather than followed.
constexpr int kMaxDepth = 32;

void appendString(std::string& out, std::string_view text) {
    static const char hex[] = "0123456789abcdef";
    out += '"';
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (byte < 0x20) {
            out += "\\u00";
            out += hex[byte >> 4];
            out += hex[byte & 0xf];
        } else {
            out += c;
        }
    }
    out += '"';
}

struct Member;

// A JSON value as far as events need one: strings and numbers are kept, anything else is only recognised.
struct Value {
    enum class Kind { string, number, object, array, other } kind = Kind::other;
    std::string text;
    double number = 0;
    // An object's members in their order (a type of their own, complete only after the value is).
    std::vector<Member> members;
    std::vector<Value> elements;

    const Value* member(std::string_view name) const;
};

struct Member {
    std::string key;
    Value value;
};

const Value* Value::member(std::string_view name) const {
    for (const Member& candidate : members)
        if (candidate.key == name)
            return &candidate.value;
    return nullptr;
}

class Parser {
public:
    explicit Parser(std::string_view text)
        : text_(text) {}

    std::optional<Value> document() {
        auto value = parseValue(0);
        skipSpace();
        if (!value || at_ != text_.size())
            return std::nullopt;
        return value;
    }

private:
    void skipSpace() {
        while (at_ < text_.size() &&
               (text_[at_] == ' ' || text_[at_] == '\t' || text_[at_] == '\n' || text_[at_] == '\r'))
            ++at_;
    }

    bool take(char c) {
        skipSpace();
        if (at_ < text_.size() && text_[at_] == c) {
            ++at_;
            return true;
        }
        return false;
    }

    bool takeWord(std::string_view word) {
        if (text_.substr(at_, word.size()) != word)
            return false;
        at_ += word.size();
        return true;
    }

    std::optional<Value> parseValue(int depth) {
        if (depth > kMaxDepth)
            return std::nullopt;
        skipSpace();
        if (at_ >= text_.size())
            return std::nullopt;
        Value value;
        const char c = text_[at_];
        if (c == '{') {
            value.kind = Value::Kind::object;
            ++at_;
            if (take('}'))
                return value;
            do {
                skipSpace();
                auto key = parseString();
                if (!key || !take(':'))
                    return std::nullopt;
                auto member = parseValue(depth + 1);
                if (!member)
                    return std::nullopt;
                value.members.push_back(Member{std::move(*key), std::move(*member)});
            } while (take(','));
            return take('}') ? std::optional(std::move(value)) : std::nullopt;
        }
        if (c == '[') {
            value.kind = Value::Kind::array;
            ++at_;
            if (take(']'))
                return value;
            do {
                auto element = parseValue(depth + 1);
                if (!element)
                    return std::nullopt;
                value.elements.push_back(std::move(*element));
            } while (take(','));
            return take(']') ? std::optional(std::move(value)) : std::nullopt;
        }
        if (c == '"') {
            auto text = parseString();
            if (!text)
                return std::nullopt;
            value.kind = Value::Kind::string;
            value.text = std::move(*text);
            return value;
        }
        if (takeWord("true") || takeWord("false") || takeWord("null"))
            return value;
        return parseNumber();
    }

    std::optional<Value> parseNumber() {
        const std::size_t start = at_;
        if (at_ < text_.size() && text_[at_] == '-')
            ++at_;
        const auto digits = [&] {
            const std::size_t from = at_;
            while (at_ < text_.size() && text_[at_] >= '0' && text_[at_] <= '9')
                ++at_;
            return at_ > from;
        };
        if (!digits())
            return std::nullopt;
        if (at_ < text_.size() && text_[at_] == '.') {
            ++at_;
            if (!digits())
                return std::nullopt;
        }
        if (at_ < text_.size() && (text_[at_] == 'e' || text_[at_] == 'E')) {
            ++at_;
            if (at_ < text_.size() && (text_[at_] == '+' || text_[at_] == '-'))
                ++at_;
            if (!digits())
                return std::nullopt;
        }
        Value value;
        value.kind = Value::Kind::number;
        value.number = std::strtod(std::string(text_.substr(start, at_ - start)).c_str(), nullptr);
        return value;
    }

    std::optional<unsigned> parseHex4() {
        if (at_ + 4 > text_.size())
            return std::nullopt;
        unsigned code = 0;
        for (int i = 0; i < 4; ++i) {
            const char c = text_[at_++];
            code <<= 4;
            if (c >= '0' && c <= '9')
                code |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                code |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                code |= unsigned(c - 'A' + 10);
            else
                return std::nullopt;
        }
        return code;
    }

    static void appendUtf8(std::string& out, unsigned code) {
        if (code < 0x80) {
            out += char(code);
        } else if (code < 0x800) {
            out += char(0xc0 | (code >> 6));
            out += char(0x80 | (code & 0x3f));
        } else if (code < 0x10000) {
            out += char(0xe0 | (code >> 12));
            out += char(0x80 | ((code >> 6) & 0x3f));
            out += char(0x80 | (code & 0x3f));
        } else {
            out += char(0xf0 | (code >> 18));
            out += char(0x80 | ((code >> 12) & 0x3f));
            out += char(0x80 | ((code >> 6) & 0x3f));
            out += char(0x80 | (code & 0x3f));
        }
    }

    // A "\u" escape, with the low half that must follow a high surrogate; a lone half becomes U+FFFD.
    std::optional<unsigned> parseUnicodeEscape() {
        auto code = parseHex4();
        if (!code)
            return std::nullopt;
        if (*code >= 0xdc00 && *code <= 0xdfff)
            return 0xfffd;
        if (*code < 0xd800 || *code > 0xdbff)
            return code;
        if (text_.substr(at_, 2) != "\\u")
            return 0xfffd;
        const std::size_t lowStart = at_;
        at_ += 2;
        auto low = parseHex4();
        if (!low)
            return std::nullopt;
        if (*low < 0xdc00 || *low > 0xdfff) {
            at_ = lowStart; // read again as an escape of its own
            return 0xfffd;
        }
        return 0x10000 + ((*code - 0xd800) << 10) + (*low - 0xdc00);
    }

    std::optional<std::string> parseString() {
        if (at_ >= text_.size() || text_[at_] != '"')
            return std::nullopt;
        ++at_;
        std::string out;
        while (at_ < text_.size()) {
            const char c = text_[at_++];
            if (c == '"')
                return out;
            if (static_cast<unsigned char>(c) < 0x20)
                return std::nullopt;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (at_ >= text_.size())
                return std::nullopt;
            const char escape = text_[at_++];
            switch (escape) {
            case '"':
            case '\\':
            case '/':
                out += escape;
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                const auto code = parseUnicodeEscape();
                if (!code)
                    return std::nullopt;
                appendUtf8(out, *code);
                break;
            }
            default:
                return std::nullopt;
            }
        }
        return std::nullopt;
    }

    std::string_view text_;
    std::size_t at_ = 0;
};

std::optional<Event> eventFrom(const Value& value) {
    if (value.kind != Value::Kind::object)
        return std::nullopt;
    const Value* eventClass = value.member("class");
    const Value* eventID = value.member("id");
    if (!eventClass || !eventID || eventClass->kind != Value::Kind::string ||
        eventID->kind != Value::Kind::string)
        return std::nullopt;
    Event event{eventClass->text, eventID->text, std::nullopt, {}, std::nullopt};
    if (const Value* object = value.member("object"); object && object->kind == Value::Kind::string)
        event.object = object->text;
    if (const Value* documents = value.member("documents");
        documents && documents->kind == Value::Kind::array)
        for (const Value& document : documents->elements)
            if (document.kind == Value::Kind::string)
                event.documents.push_back(document.text);
    if (const Value* sender = value.member("sender"); sender && sender->kind == Value::Kind::number &&
                                                      sender->number >= 0 && sender->number <= 2147483647.0)
        event.sender = static_cast<std::int32_t>(sender->number);
    return event;
}

bool isPrivateFolderOfMine(const std::string& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0)
        return false;
    return S_ISDIR(info.st_mode) && info.st_uid == ::getuid() && (info.st_mode & 0077) == 0;
}

// A folder path as the host's folders clean it, or none when cleaning would take more than trailing slashes.
std::optional<std::string> plainFolder(std::string path) {
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    if (path.empty() || path.front() != '/' || path.find("//") != std::string::npos ||
        path.find("/./") != std::string::npos || path.find("/../") != std::string::npos ||
        path.ends_with("/.") || path.ends_with("/.."))
        return std::nullopt;
    return path;
}

} // namespace

std::string encode(const std::vector<Event>& events, std::string_view deliveryID) {
    std::string out = "{\"events\":[";
    for (std::size_t i = 0; i < events.size(); ++i) {
        const Event& event = events[i];
        if (i > 0)
            out += ',';
        out += "{\"class\":";
        appendString(out, event.eventClass);
        out += ",\"id\":";
        appendString(out, event.eventID);
        if (event.object) {
            out += ",\"object\":";
            appendString(out, *event.object);
        }
        if (!event.documents.empty()) {
            out += ",\"documents\":[";
            for (std::size_t d = 0; d < event.documents.size(); ++d) {
                if (d > 0)
                    out += ',';
                appendString(out, event.documents[d]);
            }
            out += ']';
        }
        if (event.sender) {
            out += ",\"sender\":";
            out += std::to_string(*event.sender);
        }
        out += '}';
    }
    out += ']';
    if (!deliveryID.empty()) {
        out += ",\"delivery\":";
        appendString(out, deliveryID);
    }
    out += '}';
    return out;
}

std::optional<HandOver> decodeHandOver(std::string_view text) {
    const auto document = Parser(text).document();
    if (!document || document->kind != Value::Kind::object)
        return std::nullopt;
    const Value* list = document->member("events");
    if (!list || list->kind != Value::Kind::array)
        return std::nullopt;
    HandOver handOver;
    for (const Value& value : list->elements) {
        auto event = eventFrom(value);
        if (!event)
            return std::nullopt;
        handOver.events.push_back(std::move(*event));
    }
    if (const Value* mark = document->member("delivery"); mark && mark->kind == Value::Kind::string)
        handOver.deliveryID = mark->text;
    return handOver;
}

std::optional<std::vector<Event>> decode(std::string_view text) {
    auto handOver = decodeHandOver(text);
    if (!handOver)
        return std::nullopt;
    return std::move(handOver->events);
}

std::string newDeliveryID() {
    static const char hex[] = "0123456789abcdef";
    std::random_device random;
    std::string id;
    for (int word = 0; word < 4; ++word)
        for (std::uint32_t bits = random(), digit = 0; digit < 8; ++digit, bits >>= 4)
            id += hex[bits & 0xf];
    return id;
}

std::string eventSocketName(std::string_view bundleIdentifier) {
    if (bundleIdentifier.empty() || bundleIdentifier == "." || bundleIdentifier == ".." ||
        bundleIdentifier.find('/') != std::string_view::npos ||
        bundleIdentifier.find('\0') != std::string_view::npos)
        return {};
    return std::string(bundleIdentifier) + ".events";
}

std::optional<std::string> usualEventSocketPath(std::string_view bundleIdentifier) {
    const std::string name = eventSocketName(bundleIdentifier);
    if (name.empty())
        return std::nullopt;
    std::optional<std::string> folder;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        folder = plainFolder(runtime);
        if (!folder)
            return std::nullopt;
        if (!isPrivateFolderOfMine(*folder))
            folder.reset();
    }
    if (!folder) {
        const std::string fallback = "/tmp/corvane-" + std::to_string(::getuid());
        if (!isPrivateFolderOfMine(fallback))
            return std::nullopt;
        folder = fallback;
    }
    const std::string path = *folder + "/corvane-host/" + name;
    if (path.size() >= kSocketPathLimit)
        return std::nullopt;
    return path;
}

} // namespace host::wire
