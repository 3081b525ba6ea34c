#pragma once

#include "CorvaneHost/Accessibility.h"
#include "CorvaneHost/Linux/Accessibility/AccessibilitySwitchWatch.h"

#include <QHash>
#include <vector>

using AtspiAccessible = struct _AtspiAccessible;
using AtspiEvent = struct _AtspiEvent;
using AtspiEventListener = struct _AtspiEventListener;

namespace host {

class AtspiObserver;

// Accessibility over AT-SPI 2, the desktop's accessibility bus, through libatspi. Elements, attributes and
// actions are mapped onto the platform's vocabulary (AXRoleMapping); window state, raising and closing go
// through the window manager (X11); synthetic keys through XTest.
//
// Trust has two halves, as on the platform: the desktop's accessibility switch (org.a11y.Status.IsEnabled)
// must be on, and the host's grant record (PrivacyGrants, service "Accessibility") must hold this program's
// bundle identifier. The prompt adds the record and turns the switch on; resetting the grant removes only the
// record.
//
// libatspi dispatches its events on the default GLib main context, which Qt's event loop runs on the main
// thread; observers hand every notification on to the main queue.
class AtspiAccessibility final : public Accessibility {
public:
    AtspiAccessibility();
    ~AtspiAccessibility() override;

    // Whether this session has an accessibility bus that answers.
    static bool busAnswers();
    // The desktop's accessibility switch.
    static bool accessibilitySwitch();
    static bool setAccessibilitySwitch(bool on);
    // The identifier under which this program's grant is recorded: its bundle identifier, else the path of
    // its executable.
    static QString ownGrantIdentifier();

    bool isProcessTrusted() override;
    bool isProcessTrustedWithPrompt(bool prompt) override;
    AXElement createApplication(qint32 pid) override;
    AXError setMessagingTimeout(const AXElement& element, double seconds) override;
    AXError copyAttributeValue(const AXElement& element, const QString& attribute, AXValue& value) override;
    AXError setAttributeValue(const AXElement& element, const QString& attribute,
                              const AXValue& value) override;
    AXError performAction(const AXElement& element, const QString& action) override;
    AXError pid(const AXElement& element, qint32& pid) override;
    AXError createObserver(qint32 pid, AXObserverCallback callback,
                           std::shared_ptr<AXObserver>& observer) override;
    void postKeyboardEvent(int virtualKeyCode, bool keyDown) override;
    void prefetch(const QList<AXElement>& elements) override;

    // Off, every read asks the program on its own, one after another (benchmarks compare the two ways).
    static void setReadsAhead(bool on);

private:
    friend class AtspiObserver;
    struct Target;

    static void onEvent(AtspiEvent* event, void* self);
    void dispatch(AtspiEvent* event);
    AXError resolve(const AXElement& element, Target& target);
    void forgetEndedApplications();
    // Runs `call` on what `element` names. A program's root found earlier whose program has since left the
    // bus is looked up again, and the call made once more.
    template <typename TargetCall> AXError withTarget(const AXElement& element, const TargetCall& call);
    AXError copyAttributeValue(Target& target, const QString& attribute, AXValue& value);
    AXError setAttributeValue(Target& target, const QString& attribute, const AXValue& value);
    AXError performAction(Target& target, const QString& action);

    QHash<qint32, double> timeouts_;
    // Which program each application on the bus is, as learnt when it was looked up: events name the sender's
    // bus name only, and no call may be made while an event is dispatched. The service's own, so that no
    // event reads it once the service is gone.
    QHash<QByteArray, qint32> pidsByBusName_;
    // Each program's root on the bus (a reference each), as found by its pid: finding it lists every program
    // on the bus and asks the bus for each one's pid, which would cost a tracker's every pass three round
    // trips more. A bus name is never given twice, so a root whose program went away only fails to answer.
    QHash<qint32, AtspiAccessible*> applications_;
    // The switch that trust reads at each check.
    AccessibilitySwitchWatch switch_;
    AtspiEventListener* listener_ = nullptr;
    std::vector<std::weak_ptr<AtspiObserver>> observers_;
};

} // namespace host
