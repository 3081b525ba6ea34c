#pragma once

#include "CorvaneHost/WindowList.h"

#include <QVariantMap>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace test {

// A window server that tests (or a fake Chrome) feed. Each window is an entry as the real list gives it; the
// fake honours the on-screen option by leaving out entries whose "kCGWindowIsOnscreen" is false (minimised
// windows, windows on other Spaces), as the window server does.
class FakeWindowList final : public host::WindowList {
public:
    struct Call {
        int options = 0;
        quint32 relativeToWindow = 0;
        bool operator==(const Call&) const = default;
    };

    bool screenRecordingPreflight() override;
    std::optional<QVariantList> windowList(int options, quint32 relativeToWindow) override;

    void setPreflight(bool granted);
    // The entries of the list; none makes the window server give no list at all.
    void setWindows(std::optional<QVariantList> windows);
    // Computes the entries at every call instead (for a fake world that changes); overrides setWindows.
    void setSource(std::function<std::optional<QVariantList>()> source);
    std::vector<Call> calls() const;

    // An ordinary window entry; `layer` and `onScreen` are left out of the entry when none.
    static QVariantMap window(qint64 ownerPID, double height, std::optional<qint64> layer = 0,
                              std::optional<bool> onScreen = true, double width = 800);

private:
    mutable std::mutex mutex_;
    bool preflight_ = true;
    std::optional<QVariantList> windows_ = QVariantList{};
    std::function<std::optional<QVariantList>()> source_;
    std::vector<Call> calls_;
};

// Installs a window list in host::services() for its lifetime and restores the previous one.
class WindowListScope {
public:
    explicit WindowListScope(std::shared_ptr<host::WindowList> windowList);
    ~WindowListScope();
    WindowListScope(const WindowListScope&) = delete;
    WindowListScope& operator=(const WindowListScope&) = delete;

private:
    std::shared_ptr<host::WindowList> previous_;
};

} // namespace test
