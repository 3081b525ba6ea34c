#include "CorvaneHost/Linux/X11/X11Activation.h"

#include <chrono>
#include <thread>

namespace host {
namespace {

const char* const requestProperty = "_CORVANE_ACTIVATION_REQUEST";

qint64 monotonicMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

std::optional<ActivationRequest> lastRequest(X11Display& display) {
    const std::vector<quint32> numbers = display.rootNumbers(requestProperty);
    if (numbers.size() != 4)
        return std::nullopt;
    return ActivationRequest{numbers[0], numbers[1], qint64((quint64(numbers[2]) << 32) | numbers[3])};
}

void noteRequest(X11Display& display, const ActivationRequest& request) {
    const auto time = quint64(request.madeAtMs);
    display.setRootNumbers(requestProperty,
                           {request.window, request.activeBefore, quint32(time >> 32), quint32(time)});
}

// How long a raise waits for the window manager to carry its request out.
constexpr int carriedOutWithinMs = 100;

bool becomesActive(X11Display& display, quint32 window) {
    const qint64 until = monotonicMs() + carriedOutWithinMs;
    while (display.activeWindow() != window) {
        if (monotonicMs() >= until)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

bool canComeForward(const X11ClientWindow& window) {
    return !window.desktop && !window.dock;
}

} // namespace

std::optional<X11ClientWindow> activeClientWindow() {
    const auto display = X11Display::shared();
    if (!display)
        return std::nullopt;
    const quint32 active = display->activeWindow();
    if (active == 0)
        return std::nullopt;
    for (const X11ClientWindow& window : display->clientWindows())
        if (window.id == active)
            return window;
    return std::nullopt;
}

bool isPending(const ActivationRequest& request, quint32 activeWindow, qint64 nowMs) {
    return request.window != 0 && request.window != activeWindow && request.activeBefore == activeWindow &&
           nowMs >= request.madeAtMs && nowMs - request.madeAtMs < activationPatienceMs;
}

ApplicationActivation planApplicationActivation(qint32 processIdentifier,
                                                const std::vector<X11ClientWindow>& frontToBack,
                                                quint32 activeWindow,
                                                const std::optional<ActivationRequest>& lastRequest,
                                                qint64 nowMs) {
    if (processIdentifier <= 0)
        return {};
    const quint32 pendingWindow =
        lastRequest && isPending(*lastRequest, activeWindow, nowMs) ? lastRequest->window : 0;
    quint32 top = 0;
    bool ownsActive = false;
    bool ownsPending = false;
    for (const X11ClientWindow& window : frontToBack) {
        if (window.pid != processIdentifier || !canComeForward(window))
            continue;
        if (top == 0)
            top = window.id; // front to back: the first is its top one
        ownsActive = ownsActive || window.id == activeWindow;
        ownsPending = ownsPending || window.id == pendingWindow;
    }
    if (top == 0)
        return {};
    // The window about to come forward is the application's: it is the one in front.
    if (ownsPending || (ownsActive && pendingWindow == 0))
        return {true, 0};
    // Another program's window is about to come forward: asked after it, the application's active window
    // (else its top one) is the last word.
    return {true, ownsActive ? activeWindow : top};
}

bool requestActivation(quint32 window) {
    const auto display = X11Display::shared();
    if (!display || window == 0)
        return false;
    const quint32 active = display->activeWindow();
    const qint64 now = monotonicMs();
    if (active == window)
        return true;
    if (const auto last = lastRequest(*display);
        last && last->window == window && isPending(*last, active, now))
        return true;
    noteRequest(*display, {window, active, now});
    display->activate(window);
    // A window manager carries a request out within milliseconds: the note of one carried out goes, so that
    // the window is asked for anew once another came forward meanwhile (by a click, or by a program that does
    // not note its requests), however soon. One that takes longer stays noted as pending, for its patience.
    if (becomesActive(*display, window))
        display->setRootNumbers(requestProperty, {});
    return true;
}

bool activateApplication(qint32 processIdentifier) {
    const auto display = X11Display::shared();
    if (!display || processIdentifier <= 0)
        return false;
    const quint32 active = display->activeWindow();
    const ApplicationActivation plan = planApplicationActivation(
        processIdentifier, display->clientWindows(), active, lastRequest(*display), monotonicMs());
    if (plan.windowToActivate != 0)
        requestActivation(plan.windowToActivate);
    return plan.hasWindow;
}

} // namespace host
