#include "CorvaneHost/Linux/X11/X11WindowList.h"

#include "CorvaneHost/Linux/X11/X11Display.h"
#include "CorvaneHost/Services.h"

#include <QVariantMap>

namespace host {
namespace {

// The window server's layers: ordinary windows at 0, panels and docks above them, the desktop far below.
constexpr qint64 normalLayer = 0;
constexpr qint64 keepAboveLayer = 3;
constexpr qint64 dockLayer = 20;
constexpr qint64 desktopLayer = -2147483623;

qint64 layerOf(const X11ClientWindow& window) {
    if (window.desktop)
        return desktopLayer;
    if (window.dock)
        return dockLayer;
    return window.keepAbove ? keepAboveLayer : normalLayer;
}

} // namespace

bool X11WindowList::screenRecordingPreflight() {
    // Any client of an X display may read every window's properties.
    return X11Display::shared() != nullptr;
}

std::optional<QVariantList> X11WindowList::windowList(int options, quint32 relativeToWindow) {
    const std::shared_ptr<X11Display> display = X11Display::shared();
    if (!display)
        return QVariantList{};
    QVariantList entries;
    for (const X11ClientWindow& window : display->clientWindows()) {
        const bool onScreen = window.viewable && !window.hidden;
        if ((options & optionOnScreenOnly) && !onScreen)
            continue;
        if ((options & optionExcludeDesktopElements) && window.desktop)
            continue;
        QVariantMap entry{
            {numberKey, qint64(window.id)},
            {layerKey, layerOf(window)},
            {isOnscreenKey, onScreen},
            {boundsKey, QVariantMap{{boundsX, double(window.bounds.x())},
                                    {boundsY, double(window.bounds.y())},
                                    {boundsWidth, double(window.bounds.width())},
                                    {boundsHeight, double(window.bounds.height())}}},
        };
        if (window.pid > 0)
            entry.insert(ownerPIDKey, qint64(window.pid));
        entries.append(entry);
    }
    Q_UNUSED(relativeToWindow) // every caller asks relative to no particular window
    return entries;
}

WindowList& windowList() {
    return ensureService(services().windowList, [] { return std::make_shared<X11WindowList>(); });
}

} // namespace host
