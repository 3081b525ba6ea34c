#pragma once

#include <QString>
#include <QVariant>
#include <QVariantList>
#include <optional>

namespace host {

// The window server's list of windows and the screen-recording permission check. Entries come back as the
// window server gives them, loosely typed (one QVariantMap per window), because callers must cope with
// missing or mistyped fields rather than trust the shape.
class WindowList {
public:
    // Options of windowList(), combined with "|".
    static constexpr int optionOnScreenOnly = 1;
    static constexpr int optionExcludeDesktopElements = 16;
    // "Relative to no particular window".
    static constexpr quint32 nullWindowID = 0;

    // Keys of a window entry.
    static inline const QString ownerPIDKey = QStringLiteral("kCGWindowOwnerPID");
    static inline const QString boundsKey = QStringLiteral("kCGWindowBounds");
    static inline const QString layerKey = QStringLiteral("kCGWindowLayer");
    static inline const QString isOnscreenKey = QStringLiteral("kCGWindowIsOnscreen");
    static inline const QString numberKey = QStringLiteral("kCGWindowNumber");
    // Keys of a bounds dictionary.
    static inline const QString boundsX = QStringLiteral("X");
    static inline const QString boundsY = QStringLiteral("Y");
    static inline const QString boundsWidth = QStringLiteral("Width");
    static inline const QString boundsHeight = QStringLiteral("Height");

    virtual ~WindowList() = default;

    // Whether this process may see other applications' windows (the screen-recording permission). Never
    // prompts the user.
    virtual bool screenRecordingPreflight() = 0;

    // The window list for `options` relative to `relativeToWindow`, or none when the window server gives
    // no list.
    virtual std::optional<QVariantList> windowList(int options, quint32 relativeToWindow) = 0;
};

} // namespace host
