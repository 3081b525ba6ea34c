#include "Corvane/Models/EditorState.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Defaults.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"

#include <QDir>
#include <QFileInfo>
#include <QTextBoundaryFinder>
#include <QVariantList>

namespace {

const QString generatedAppsDirectoryKey = QStringLiteral("GeneratedAppsDirectory");

qsizetype perceivedLength(const QString& text) {
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype count = 0;
    while (finder.toNextBoundary() != -1)
        ++count;
    return count;
}

QString standardizedPath(const QString& path) {
    return QDir::cleanPath(QDir(path).absolutePath());
}

} // namespace

IconColor EditorState::defaultBadgeColor() {
    return *IconColor::fromHex(QStringLiteral("#1F2124"));
}

EditorState EditorState::fromApp(const RegisteredApp& app) {
    EditorState state;
    state.origin = app;
    state.name = app.name;
    state.nameEdited = true;
    state.takeConfig(app.config);
    state.destination = QUrl::fromLocalFile(QFileInfo(app.path).path());
    state.registerAsBrowser = declaresBrowserURLTypes(app.path);
    state.loadedName = state.trimmedName();
    state.loadedConfig = state.config();
    state.loadedRegisterAsBrowser = state.registerAsBrowser;
    return state;
}

void EditorState::takeConfig(const StubConfig& config) {
    profileDirectory = config.profileDirectory;
    profileName = config.profileName;
    tabGroupName = config.tabGroupName;
    ownWindow = config.ownWindow;
    symbolName = config.symbolName;
    symbolStyle = config.symbolStyle;
    iconStyle = config.iconStyle;
    closeOnQuit = config.closeOnQuit;
    includeIncognito = config.includeIncognito;
    countAppWindows = config.countAppWindows;
    badgeColor = IconColor::fromHex(config.badgeColorHex).value_or(IconColor::rgb(0, 0, 0));
}

EditorState EditorState::asLoaded() const {
    EditorState state = *this;
    state.name = loadedName;
    if (loadedConfig)
        state.takeConfig(*loadedConfig);
    state.registerAsBrowser = loadedRegisterAsBrowser;
    return state;
}

namespace {

template <typename Field> void carry(Field& field, const Field& before, const Field& after) {
    if (before != after)
        field = after;
}

} // namespace

void EditorState::carryEdits(const EditorState& before, const EditorState& after) {
    carry(name, before.name, after.name);
    carry(nameEdited, before.nameEdited, after.nameEdited);
    carry(profileDirectory, before.profileDirectory, after.profileDirectory);
    carry(profileName, before.profileName, after.profileName);
    carry(tabGroupName, before.tabGroupName, after.tabGroupName);
    carry(ownWindow, before.ownWindow, after.ownWindow);
    carry(symbolName, before.symbolName, after.symbolName);
    carry(badgeColor, before.badgeColor, after.badgeColor);
    carry(symbolStyle, before.symbolStyle, after.symbolStyle);
    carry(iconStyle, before.iconStyle, after.iconStyle);
    carry(closeOnQuit, before.closeOnQuit, after.closeOnQuit);
    carry(includeIncognito, before.includeIncognito, after.includeIncognito);
    carry(countAppWindows, before.countAppWindows, after.countAppWindows);
    carry(registerAsBrowser, before.registerAsBrowser, after.registerAsBrowser);
}

void EditorState::setProfileDirectory(const QString& directory) {
    if (directory != profileDirectory)
        tabGroupName.reset();
    profileDirectory = directory;
}

QString EditorState::trimmedName() const {
    return name.trimmed();
}

StubConfig EditorState::config() const {
    return StubConfig(profileDirectory, profileName, tabGroupName, ownWindow, closeOnQuit, includeIncognito,
                      countAppWindows, symbolName, badgeColor.hexString(), symbolStyle, iconStyle);
}

bool EditorState::isDirty() const {
    if (isDraft() || !loadedConfig)
        return true;
    if (trimmedName() != loadedName)
        return true;
    if (config() != *loadedConfig)
        return true;
    return registerAsBrowser != loadedRegisterAsBrowser;
}

bool EditorState::isRenamed() const {
    return origin && origin->name != trimmedName();
}

bool EditorState::occupiedByAnotherBundle() const {
    if (!destination)
        return false;
    const QString candidate =
        plainPath(*destination) + QLatin1Char('/') + trimmedName() + QStringLiteral(".app");
    if (!QFileInfo::exists(candidate))
        return false;
    if (origin && standardizedPath(candidate) == standardizedPath(origin->path))
        return false;
    const auto info = host::readBundleInfo(candidate);
    if (!info)
        return true;
    const QVariant identifier = info->value(QStringLiteral("CFBundleIdentifier"));
    if (identifier.typeId() != QMetaType::QString)
        return true;
    if (!origin)
        return true;
    return identifier.toString() != origin->bundleID;
}

QString EditorState::defaultName() const {
    if (tabGroupName && !tabGroupName->isEmpty())
        return *tabGroupName;
    if (!profileName.isEmpty())
        return QStringLiteral("Chrome - ") + profileName;
    return {};
}

std::optional<QString> EditorState::nameProblem() const {
    const QString trimmed = trimmedName();
    if (trimmed.isEmpty())
        return QStringLiteral("Give the app a name.");
    if (perceivedLength(trimmed) > maximumNameLength)
        return QStringLiteral("That name is too long.");
    if (trimmed.contains(QLatin1Char('/')) || trimmed.contains(QLatin1Char(':')))
        return QStringLiteral("Names can't contain “/” or “:”.");
    if (trimmed.startsWith(QLatin1Char('.')))
        return QStringLiteral("Names can't start with a dot.");
    return std::nullopt;
}

std::optional<QUrl> EditorState::rememberedDestination() {
    const auto stored = host::defaults().stringValue(Corvane::creatorBundleID, generatedAppsDirectoryKey);
    if (!stored || stored->isEmpty())
        return std::nullopt;
    return QUrl(*stored);
}

void EditorState::setRememberedDestination(const std::optional<QUrl>& folder) {
    if (!folder) {
        host::defaults().removeValue(Corvane::creatorBundleID, generatedAppsDirectoryKey);
        return;
    }
    host::defaults().setString(Corvane::creatorBundleID, generatedAppsDirectoryKey,
                               folder->toString(QUrl::FullyEncoded));
}

bool EditorState::declaresBrowserURLTypes(const QString& bundlePath) {
    const auto info = host::readBundleInfo(bundlePath);
    if (!info)
        return false;
    const QVariant types = info->value(QStringLiteral("CFBundleURLTypes"));
    if (types.typeId() != QMetaType::QVariantList)
        return false;
    const QVariantList list = types.toList();
    if (list.isEmpty())
        return false;
    for (const QVariant& entry : list)
        if (entry.typeId() != QMetaType::QVariantMap)
            return false;
    for (const QVariant& entry : list) {
        const QVariant schemes = entry.toMap().value(QStringLiteral("CFBundleURLSchemes"));
        if (schemes.typeId() != QMetaType::QVariantList)
            continue;
        for (const QVariant& scheme : schemes.toList())
            if (scheme.typeId() == QMetaType::QString && scheme.toString() == QLatin1String("https"))
                return true;
    }
    return false;
}

QString EditorState::plainPath(const QUrl& url) {
    QString path = QDir::cleanPath(url.toLocalFile());
    while (path.size() >= 2 && path.endsWith(QLatin1Char('/')))
        path.chop(1);
    return path;
}

QString EditorState::friendlyPath(const QUrl& url) {
    const QString path = plainPath(url);
    const QString home = plainPath(QUrl::fromLocalFile(host::homeDirectory()));
    if (path == home)
        return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/')))
        return QStringLiteral("~/") + path.mid(home.size() + 1);
    return path;
}
