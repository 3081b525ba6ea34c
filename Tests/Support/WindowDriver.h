#pragma once

#include <QImage>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <sys/types.h>
#include <vector>

namespace test {

// One element of a program's accessibility tree on the desktop's accessibility bus, read afresh on every call
// (nothing is cached, so states and names are what the program says now). A null element stands for "not
// found".
class AccessibleElement {
public:
    AccessibleElement() = default;

    bool isNull() const { return !handle_; }
    // The role as the bus names it: "frame", "push button", "list item", "label", "text", "page tab", ...
    QString role() const;
    QString name() const;
    QString description() const;
    // The text of a text element (fields, labels); else its name.
    QString text() const;
    // The state names: "focused", "selected", "enabled", "showing", "visible", "checked", ...
    QStringList states() const;
    bool hasState(const QString& state) const;
    std::vector<AccessibleElement> children() const;
    // On the screen, in pixels; empty when the element has no place there.
    QRect screenExtents() const;
    pid_t processId() const;
    // One line per element below this one ("role "name""), indented by depth (for failure messages).
    QString dump(int depth = 4) const;

private:
    friend class WindowDriver;
    explicit AccessibleElement(void* handle); // takes a reference of its own
    std::shared_ptr<void> handle_;
};

// Drives a program on a real (Xvfb) desktop as a user would: finds its controls through the accessibility bus
// (libatspi), moves the real pointer and types real key strokes through XTest, and photographs the screen.
// Start it after the DesktopSession, in the session's environment (DISPLAY and the session bus). Text and
// selections set through the accessibility bus would skip the signals a program's views listen to, so the
// driver only reads through it and acts through the X server.
class WindowDriver {
public:
    WindowDriver();
    ~WindowDriver();
    WindowDriver(const WindowDriver&) = delete;
    WindowDriver& operator=(const WindowDriver&) = delete;

    // False, with failure(), when the display or the accessibility bus cannot be reached.
    bool isReady() const { return display_ != nullptr; }
    QString failure() const { return failure_; }

    // The program's application element, waiting up to `seconds` for it to join the bus.
    AccessibleElement application(pid_t pid, double seconds = 10) const;
    // The first element below `root` (depth first, `root` included) with that role and name (an empty role or
    // name matches any), waiting up to `seconds` for it to appear.
    AccessibleElement find(const AccessibleElement& root, const QString& role, const QString& name,
                           double seconds = 5) const;
    // Every element below `root` with that role and name, now.
    std::vector<AccessibleElement> findAll(const AccessibleElement& root, const QString& role,
                                           const QString& name) const;
    // Waits up to `seconds` for `condition`, running this thread's Qt events meanwhile.
    static bool waitUntil(const std::function<bool()>& condition, double seconds);

    // Moves the pointer to the centre of the element and clicks the left button (right with `button` 3).
    // The click lands in whichever window is on top there, so the element's window is brought to the front
    // first: false when the window manager does not report it active and on top in time.
    bool click(const AccessibleElement& element, int button = 1);
    // Clicks wherever the pointer lands, in front or not (for the wheel over a window already in front).
    bool clickAt(const QPoint& point, int button = 1);
    // Asks the window manager to activate the managed window and waits until it reports the window active
    // and on top of the others at its centre; whether it does.
    bool bringToFront(quint32 window);
    // Types the text key by key; characters without a key on the keyboard get one for the stroke.
    bool typeText(const QString& text);
    enum class Key { Return, Escape, Tab, Backspace, Up, Down, Space, Left, Right, Menu, F10 };
    bool press(Key key);
    // The key with Shift held (Shift+Tab moves the focus back, Shift+F10 opens the focused control's menu).
    bool pressWithShift(Key key);
    // Alt+F4: the window manager closes the active window, as its title bar's close button does.
    bool closeActiveWindow();

    // The whole screen.
    QImage screenshot() const;
    // Saves the screen as "<artifacts>/<name>.png"; the path, or empty on failure.
    QString saveScreenshot(const QString& name) const;
    // The folder for test artifacts: $CORVANE_TEST_ARTIFACTS, else "<build>/Tests/artifacts".
    static QString artifactsDirectory();

    // Every application on the accessibility bus now (to find programs the test did not start itself).
    std::vector<AccessibleElement> applications() const;
    // Ctrl with a letter key ('a' selects all in a text field), as real key strokes.
    bool pressWithControl(char letter);
    // Turns the pointer's wheel at `point` by `notches` (positive: down, negative: up).
    bool scrollAt(const QPoint& point, int notches);

private:
    bool bringToFrontAt(quint32 window, const QPoint& point);
    bool bringProgramToFrontAt(pid_t program, const QPoint& point);
    bool strokeKeysym(unsigned long keysym);
    void settle() const;

    void* display_ = nullptr; // Display*
    QString failure_;
    // Keycodes without symbols, lent in turn to characters the keyboard has no key for (in turn, so a
    // program still reading one stroke never sees its key change under it).
    std::vector<unsigned int> spareKeycodes_;
    size_t nextSpare_ = 0;
};

// The requests to activate a window (_NET_ACTIVE_WINDOW messages to the window manager) that any program of
// the session's display sends from its making on: they go to the root window, where this listens too.
class ActivationRequestLog {
public:
    ActivationRequestLog();
    ~ActivationRequestLog();
    ActivationRequestLog(const ActivationRequestLog&) = delete;
    ActivationRequestLog& operator=(const ActivationRequestLog&) = delete;

    // The windows asked for so far, oldest first.
    std::vector<quint32> windows();

private:
    void* display_ = nullptr; // Display*
    unsigned long type_ = 0;
    std::vector<quint32> windows_;
};

} // namespace test
