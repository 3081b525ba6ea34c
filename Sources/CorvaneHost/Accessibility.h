#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <memory>
#include <variant>

namespace host {

// Status codes of accessibility calls, with the platform's numbers.
enum class AXError : int {
    success = 0,
    failure = -25200,
    illegalArgument = -25201,
    invalidUIElement = -25202,
    invalidUIElementObserver = -25203,
    cannotComplete = -25204, // the other program did not answer within the messaging time-out
    attributeUnsupported = -25205,
    actionUnsupported = -25206,
    notificationUnsupported = -25207,
    notImplemented = -25208,
    notificationAlreadyRegistered = -25209,
    notificationNotRegistered = -25210,
    apiDisabled = -25211, // not trusted
    noValue = -25212,
};

// What a backend keeps of one element of another application's interface. Two handles may stand for the same
// element (two reads of the same window give two handles); `sameElement` and `identityHash` say so.
class AXElementHandle {
public:
    virtual ~AXElementHandle() = default;
    virtual bool sameElement(const AXElementHandle& other) const = 0;
    virtual size_t identityHash() const = 0;
};

// One accessibility element, held by value. Equal when both stand for the same element of the same program;
// the hash depends on that identity only. A default-constructed element is null and equal only to null.
class AXElement {
public:
    AXElement() = default;
    explicit AXElement(std::shared_ptr<const AXElementHandle> handle)
        : handle_(std::move(handle)) {}

    bool isNull() const { return !handle_; }
    const AXElementHandle* handle() const { return handle_.get(); }

    bool operator==(const AXElement& other) const {
        if (!handle_ || !other.handle_)
            return !handle_ && !other.handle_;
        return handle_ == other.handle_ || handle_->sameElement(*other.handle_);
    }
    size_t hash() const { return handle_ ? handle_->identityHash() : 0; }

private:
    std::shared_ptr<const AXElementHandle> handle_;
};

// The value of an attribute, typed as the platform gives it: nothing, a string, a boolean, a number, an
// element, a list of elements or a list of strings.
using AXValue = std::variant<std::monostate, QString, bool, double, AXElement, QList<AXElement>, QStringList>;

// Notifications the product observes, by their platform names.
namespace AXNotification {
inline const QString windowCreated = QStringLiteral("AXWindowCreated");
inline const QString focusedWindowChanged = QStringLiteral("AXFocusedWindowChanged");
inline const QString mainWindowChanged = QStringLiteral("AXMainWindowChanged");
inline const QString windowMiniaturized = QStringLiteral("AXWindowMiniaturized");
inline const QString windowDeminiaturized = QStringLiteral("AXWindowDeminiaturized");
inline const QString uiElementDestroyed = QStringLiteral("AXUIElementDestroyed");
inline const QString titleChanged = QStringLiteral("AXTitleChanged");
} // namespace AXNotification

// An observer of one program's notifications. Notifications are delivered on the main queue to the callback
// given at creation, for as long as the observer lives; dropping the last reference stops them.
class AXObserver {
public:
    virtual ~AXObserver() = default;
    virtual AXError addNotification(const AXElement& element, const QString& notification) = 0;
    virtual AXError removeNotification(const AXElement& element, const QString& notification) = 0;
};

using AXObserverCallback = std::function<void(const AXElement& element, const QString& notification)>;

// The accessibility service: the trust check and its prompt, and reading, writing, acting on and observing
// other applications' interface elements. Attribute, action and role names are the platform's ("AXRole",
// "AXTitle", "AXChildren", "AXWindows", "AXPress", "AXWindow", ...), whatever this machine's accessibility
// interface calls them; a window's "AXWindowNumber" is its number in the window server's list (a number).
// Every call is synchronous and blocks at most for the messaging time-out of the element's application. Main
// thread only.
class Accessibility {
public:
    virtual ~Accessibility() = default;

    // Whether this machine has an accessibility interface of other applications at all (trust may still be
    // missing). Without one nothing can ever be observed.
    virtual bool isAvailable() { return true; }
    // Whether this process may read and drive other applications' interfaces now.
    virtual bool isProcessTrusted() = 0;
    // The same check; with `prompt` the system asks the user to grant the trust (once the answer is known it
    // is not asked again by the system). Returns the trust as it is now.
    virtual bool isProcessTrustedWithPrompt(bool prompt) = 0;

    // The application element of the program with process identifier `pid` (never null; calls on it fail when
    // no such program answers).
    virtual AXElement createApplication(qint32 pid) = 0;
    // How long calls on the elements of `element`'s application may wait for an answer before they fail with
    // `cannotComplete`. 0 restores the default.
    virtual AXError setMessagingTimeout(const AXElement& element, double seconds) = 0;

    virtual AXError copyAttributeValue(const AXElement& element, const QString& attribute,
                                       AXValue& value) = 0;
    virtual AXError setAttributeValue(const AXElement& element, const QString& attribute,
                                      const AXValue& value) = 0;
    virtual AXError performAction(const AXElement& element, const QString& action) = 0;
    virtual AXError pid(const AXElement& element, qint32& pid) = 0;
    // Warns that the next calls will read the roles, attributes, names and children of `elements`: where
    // this machine can ask for all of them at once, it does so now, and those calls are answered from what it
    // read, until the main queue runs its next work or the program announces a change. Never answers for an
    // application's list of windows.
    virtual void prefetch(const QList<AXElement>& elements) { (void)elements; }

    // An observer of the program `pid`. On failure `observer` stays null.
    virtual AXError createObserver(qint32 pid, AXObserverCallback callback,
                                   std::shared_ptr<AXObserver>& observer) = 0;

    // A synthetic key press (down when `keyDown`, else up) of the platform's virtual key code (53 is Escape),
    // posted as if typed on the keyboard, to whatever has the keyboard focus.
    virtual void postKeyboardEvent(int virtualKeyCode, bool keyDown) = 0;
};

Accessibility& accessibility();

} // namespace host

template <> struct std::hash<host::AXElement> {
    size_t operator()(const host::AXElement& element) const noexcept { return element.hash(); }
};
