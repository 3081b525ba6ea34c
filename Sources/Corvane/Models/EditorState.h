#pragma once

#include "CorvaneCore/ProxyApps/Registry.h"

#include "CorvaneIcon/IconColor.h"

#include <QString>
#include <QUrl>
#include <optional>

// The value the proxy-app editor edits: what a proxy app is made of, the folder it is built into, the saved
// app it came from and what it was loaded with. A plain value used on the main thread.
struct EditorState {
    QString name;
    QString profileDirectory;
    QString profileName;
    std::optional<QString> tabGroupName;
    bool ownWindow = true;
    QString symbolName = QStringLiteral("briefcase.fill");
    IconColor badgeColor = defaultBadgeColor();
    StubConfig::SymbolStyle symbolStyle = StubConfig::SymbolStyle::Auto;
    StubConfig::IconStyle iconStyle = StubConfig::IconStyle::Segments;
    bool closeOnQuit = false;
    bool includeIncognito = true;
    bool countAppWindows = false;
    bool registerAsBrowser = false;
    std::optional<QUrl> destination;
    std::optional<RegisteredApp> origin;
    bool nameEdited = false;
    QString loadedName;
    std::optional<StubConfig> loadedConfig;
    bool loadedRegisterAsBrowser = false;

    bool operator==(const EditorState&) const = default;

    // The editor of a saved app.
    static EditorState fromApp(const RegisteredApp& app);

    // Takes from `after` every field the user changed since `before`; the others keep their value here.
    void carryEdits(const EditorState& before, const EditorState& after);
    // This editor with the fields as they were loaded, before the user changed any.
    EditorState asLoaded() const;

    // Another profile drops the tab group, which belongs to the profile it was chosen in.
    void setProfileDirectory(const QString& directory);

    // The fields a configuration sets take its values.
    void takeConfig(const StubConfig& config);

    // The name without white space and line breaks at either end.
    QString trimmedName() const;
    // The configuration the editor describes.
    StubConfig config() const;

    bool isDraft() const { return !origin.has_value(); }
    bool isDirty() const;
    bool isRenamed() const;
    // Saving would overwrite another application of that name in the destination.
    bool occupiedByAnotherBundle() const;
    QString defaultName() const;
    std::optional<QString> nameProblem() const;

    static IconColor defaultBadgeColor();
    static constexpr int maximumNameLength = 60;

    // The folder last chosen for generated apps (user default "GeneratedAppsDirectory").
    static std::optional<QUrl> rememberedDestination();
    static void setRememberedDestination(const std::optional<QUrl>& folder);

    // Whether the bundle's Info.plist declares itself a handler of https links.
    static bool declaresBrowserURLTypes(const QString& bundlePath);
    // The URL's standardised file-system path without trailing "/".
    static QString plainPath(const QUrl& url);
    // plainPath with the home folder written "~".
    static QString friendlyPath(const QUrl& url);
};
