#include "Support/FakeWindowList.h"

#include "CorvaneHost/Services.h"

#include <utility>

namespace test {

bool FakeWindowList::screenRecordingPreflight() {
    std::lock_guard lock(mutex_);
    return preflight_;
}

std::optional<QVariantList> FakeWindowList::windowList(int options, quint32 relativeToWindow) {
    std::function<std::optional<QVariantList>()> source;
    std::optional<QVariantList> windows;
    {
        std::lock_guard lock(mutex_);
        calls_.push_back({options, relativeToWindow});
        source = source_;
        windows = windows_;
    }
    if (source)
        windows = source();
    if (!windows || !(options & optionOnScreenOnly))
        return windows;
    QVariantList onScreen;
    for (const QVariant& entry : *windows) {
        const QVariantMap map = entry.toMap();
        const auto flag = map.constFind(isOnscreenKey);
        if (entry.typeId() == QMetaType::QVariantMap && flag != map.constEnd() && !flag->toBool())
            continue;
        onScreen.append(entry);
    }
    return onScreen;
}

void FakeWindowList::setPreflight(bool granted) {
    std::lock_guard lock(mutex_);
    preflight_ = granted;
}

void FakeWindowList::setWindows(std::optional<QVariantList> windows) {
    std::lock_guard lock(mutex_);
    windows_ = std::move(windows);
}

void FakeWindowList::setSource(std::function<std::optional<QVariantList>()> source) {
    std::lock_guard lock(mutex_);
    source_ = std::move(source);
}

std::vector<FakeWindowList::Call> FakeWindowList::calls() const {
    std::lock_guard lock(mutex_);
    return calls_;
}

QVariantMap FakeWindowList::window(qint64 ownerPID, double height, std::optional<qint64> layer,
                                   std::optional<bool> onScreen, double width) {
    QVariantMap entry;
    entry.insert(ownerPIDKey, ownerPID);
    entry.insert(boundsKey,
                 QVariantMap{{boundsX, 0.0}, {boundsY, 0.0}, {boundsWidth, width}, {boundsHeight, height}});
    if (layer)
        entry.insert(layerKey, *layer);
    if (onScreen)
        entry.insert(isOnscreenKey, *onScreen);
    return entry;
}

WindowListScope::WindowListScope(std::shared_ptr<host::WindowList> windowList)
    : previous_(host::replaceService(host::services().windowList, std::move(windowList))) {}

WindowListScope::~WindowListScope() {
    host::replaceService(host::services().windowList, std::move(previous_));
}

} // namespace test
