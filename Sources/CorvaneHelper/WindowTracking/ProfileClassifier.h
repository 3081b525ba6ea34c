#pragma once

#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "CorvaneHelper/WindowTracking/AX.h"
#include "CorvaneHost/Accessibility.h"

#include <QHash>
#include <QString>
#include <optional>
#include <vector>

// How a window's profile was found.
enum class ClassificationSource { attributed, chip, title, inherited };
// What kind of Chrome window it is.
enum class WindowKind { browser, app, incognito };

QString toString(ClassificationSource source);
QString toString(WindowKind kind);
std::optional<ClassificationSource> classificationSourceFromString(const QString& text);
std::optional<WindowKind> windowKindFromString(const QString& text);

struct Classification {
    std::optional<QString> profileDirectory;
    std::optional<ClassificationSource> source; // absent exactly when the profile is
    WindowKind kind = WindowKind::browser;

    // No profile yet, and not an incognito window (which may stay without one).
    bool isUnclassified() const { return !profileDirectory && kind != WindowKind::incognito; }
    bool operator==(const Classification&) const = default;
};

// Decides which Chrome profile a window shows, and by what evidence, from its profile chip and its title.
struct ProfileClassifier {
    std::vector<ChromeProfile> profiles;
    // Where the toolbar and the tab strip were found last: Chrome builds its windows alike, so a new window
    // is first looked at there, one element a level, while Chrome is still busy building it.
    mutable AX::Route toolbarRoute = {};
    mutable AX::Route tabStripRoute = {};

    Classification classify(const host::AXElement& window, const std::optional<QString>& attributedProfile,
                            const std::optional<QString>& parentProfile) const;
    WindowKind kind(const host::AXElement& window) const;
    std::optional<QString> chipLabel(const host::AXElement& window) const;
    std::optional<QString> profileFromTitle(const QString& title) const;

private:
    WindowKind kind(const host::AXElement& window, const std::optional<QString>& chipLabel) const;
    std::optional<QString> chipLabelIn(const host::AXElement& toolbar) const;
    std::optional<QString> chipLabelByMatching(const host::AXElement& toolbar) const;
    bool hasTabStrip(const host::AXElement& window) const;
    bool namesAProfile(const QString& chipLabel) const;
    QHash<QString, QString> byName() const;
};
