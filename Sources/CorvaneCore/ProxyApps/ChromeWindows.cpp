#include "CorvaneCore/ProxyApps/ChromeWindows.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/WindowList.h"

#include <QVariantMap>
#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace {

bool isNumeric(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::ULong:
    case QMetaType::LongLong:
    case QMetaType::ULongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
    case QMetaType::Double:
    case QMetaType::Float:
        return true;
    default:
        return false;
    }
}

// The value as a whole number, when it is a number without a fractional part.
std::optional<qint64> wholeNumber(const QVariant& value) {
    if (!isNumeric(value))
        return std::nullopt;
    if (value.typeId() == QMetaType::ULongLong || value.typeId() == QMetaType::ULong) {
        const qulonglong unsignedValue = value.toULongLong();
        if (unsignedValue > qulonglong(std::numeric_limits<qint64>::max()))
            return std::nullopt;
        return qint64(unsignedValue);
    }
    if (value.typeId() == QMetaType::Double || value.typeId() == QMetaType::Float) {
        const double number = value.toDouble();
        if (!std::isfinite(number) || std::trunc(number) != number || std::fabs(number) >= 9.2e18)
            return std::nullopt;
        return qint64(number);
    }
    return value.toLongLong();
}

bool ownedBy(const QVariantMap& window, qint32 processIdentifier) {
    const auto owner = window.constFind(host::WindowList::ownerPIDKey);
    if (owner == window.constEnd())
        return false;
    const auto number = wholeNumber(*owner);
    if (!number || *number < std::numeric_limits<qint32>::min() ||
        *number > std::numeric_limits<qint32>::max())
        return false;
    return qint32(*number) == processIdentifier;
}

// Toolbars, tooltips and thin strips are not windows a user thinks of as Chrome windows.
bool isTallEnough(const QVariantMap& window) {
    const auto bounds = window.constFind(host::WindowList::boundsKey);
    if (bounds == window.constEnd() || bounds->typeId() != QMetaType::QVariantMap)
        return false;
    const QVariantMap box = bounds->toMap();
    const auto height = box.constFind(host::WindowList::boundsHeight);
    if (height == box.constEnd() || !isNumeric(*height))
        return false;
    return height->toDouble() > 100;
}

// Floating panels and menus sit on other layers; an entry without a usable layer is taken as ordinary.
bool isOnNormalLayer(const QVariantMap& window) {
    const auto layer = window.constFind(host::WindowList::layerKey);
    if (layer == window.constEnd())
        return true;
    const auto number = wholeNumber(*layer);
    return !number || *number == 0;
}

} // namespace

namespace ChromeWindows {

std::optional<host::RunningApplication> runningChrome() {
    std::vector<host::RunningApplication> chromes;
    for (const host::RunningApplication& application : host::workspace().runningApplications())
        if (application.bundleIdentifier == Corvane::chromeBundleID)
            chromes.push_back(application);
    if (chromes.size() < 2)
        return chromes.empty() ? std::nullopt : std::optional(chromes.front());
    // Several (one of the same user on another display, or a second start handing its request over): the one
    // whose windows this display shows is the one the user sees.
    const auto list = host::windowList().windowList(host::WindowList::optionExcludeDesktopElements,
                                                    host::WindowList::nullWindowID);
    for (const host::RunningApplication& chrome : chromes)
        for (const QVariant& entry : list.value_or(QVariantList()))
            if (entry.typeId() == QMetaType::QVariantMap && ownedBy(entry.toMap(), chrome.processIdentifier))
                return chrome;
    return chromes.front();
}

bool isChromeRunning() {
    return runningChrome().has_value();
}

std::optional<int> onScreenCount() {
    const auto chrome = runningChrome();
    if (!chrome)
        return std::nullopt;
    const qint32 processIdentifier = chrome->processIdentifier;
    const auto list = host::windowList().windowList(host::WindowList::optionOnScreenOnly |
                                                        host::WindowList::optionExcludeDesktopElements,
                                                    host::WindowList::nullWindowID);
    if (!list)
        return std::nullopt;
    for (const QVariant& entry : *list) {
        if (entry.typeId() != QMetaType::QVariantMap)
            return std::nullopt;
    }
    int count = 0;
    for (const QVariant& entry : *list) {
        const QVariantMap window = entry.toMap();
        if (ownedBy(window, processIdentifier) && isTallEnough(window) && isOnNormalLayer(window))
            ++count;
    }
    return count;
}

bool hasVisibleWindows() {
    const auto count = onScreenCount();
    return count && *count > 0;
}

bool canSeeOtherApplicationsWindows() {
    return host::windowList().screenRecordingPreflight();
}

std::optional<int> listedCount(const std::vector<quint32>& windowNumbers) {
    if (!canSeeOtherApplicationsWindows())
        return std::nullopt;
    // Minimised windows are left out of the on-screen list only: the whole list keeps every window the
    // window manager still manages.
    const auto list = host::windowList().windowList(host::WindowList::optionExcludeDesktopElements,
                                                    host::WindowList::nullWindowID);
    if (!list)
        return std::nullopt;
    int count = 0;
    for (const QVariant& entry : *list) {
        if (entry.typeId() != QMetaType::QVariantMap)
            return std::nullopt;
        const auto number = wholeNumber(entry.toMap().value(host::WindowList::numberKey));
        if (number && std::find(windowNumbers.begin(), windowNumbers.end(), *number) != windowNumbers.end())
            ++count;
    }
    return count;
}

std::optional<bool> visibleWindows() {
    if (!canSeeOtherApplicationsWindows())
        return std::nullopt;
    const auto count = onScreenCount();
    if (!count)
        return std::nullopt;
    return *count >= 1;
}

} // namespace ChromeWindows
