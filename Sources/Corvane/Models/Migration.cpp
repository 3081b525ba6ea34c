#include "Corvane/Models/Migration.h"
#include "Corvane/Models/AppModel.h"

#include "Corvane/Models/SigningIdentity.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneHost/Defaults.h"
#include "CorvaneHost/Error.h"
#include "CorvaneHost/PropertyList.h"
#include "CorvaneHost/Services.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>
#include <algorithm>

namespace Migration {

const QStringList& legacyBundleIDs() {
    static const QStringList ids{QStringLiteral("cx.qemt.tavrimo.work"),
                                 QStringLiteral("cx.qemt.tavrimo.home")};
    return ids;
}

Look knownLook(const QString& nameKey) {
    if (nameKey == QLatin1String("work"))
        return {QStringLiteral("briefcase.fill"), QStringLiteral("#1F2124")};
    if (nameKey == QLatin1String("home"))
        return {QStringLiteral("house.fill"), QStringLiteral("#7B1FA2")};
    return {QStringLiteral("globe"), QStringLiteral("#1F2124")};
}

namespace {

bool isScriptBuilt(const QString& bundlePath, const QVariantMap& info, const QString& bundleID) {
    if (legacyBundleIDs().contains(bundleID))
        return true;
    const bool hasScript =
        QFileInfo::exists(bundlePath + QStringLiteral("/Contents/Resources/Scripts/main.scpt"));
    const QVariant usage = info.value(QStringLiteral("NSAppleEventsUsageDescription"));
    return hasScript && usage.typeId() == QMetaType::QString &&
           usage.toString().contains(QLatin1String("Chrome window belonging to"));
}

std::optional<ChromeProfile> guessProfile(const QString& name, const QString& nameKey,
                                          const std::vector<ChromeProfile>& profiles) {
    const QString lowerName = name.toLower();
    for (const ChromeProfile& profile : profiles) {
        const QString profileName = profile.name.toLower();
        // An empty name would be a suffix of every app's name.
        if (profileName.isEmpty())
            continue;
        if (profileName == nameKey || lowerName.endsWith(profileName))
            return profile;
    }
    return std::nullopt;
}

} // namespace

std::vector<LegacyApp> findLegacyApps(const std::vector<ChromeProfile>& knownProfiles) {
    std::vector<LegacyApp> found;
    for (const QString& folder : Registry::standardSearchDirectories()) {
        const QDir dir(folder);
        if (!dir.exists())
            continue;
        for (const QFileInfo& entry :
             dir.entryInfoList(QDir::AllEntries | QDir::NoDotAndDotDot, QDir::NoSort)) {
            if (entry.suffix() != QLatin1String("app"))
                continue;
            const QString path = entry.absoluteFilePath();
            const auto info = host::readBundleInfo(path);
            if (!info)
                continue;
            const QVariant identifier = info->value(QStringLiteral("CFBundleIdentifier"));
            const QString bundleID =
                identifier.typeId() == QMetaType::QString ? identifier.toString() : QString();
            if (!isScriptBuilt(path, *info, bundleID))
                continue;
            if (bundleID.startsWith(Corvane::bundleIDPrefix))
                continue;
            const QVariant bundleName = info->value(QStringLiteral("CFBundleName"));
            const QString name =
                bundleName.typeId() == QMetaType::QString ? bundleName.toString() : entry.completeBaseName();
            const QString nameKey = name.toLower().remove(QStringLiteral("chrome - "));
            const Look look = knownLook(nameKey);
            found.push_back(LegacyApp{QUrl::fromLocalFile(path), name, bundleID,
                                      guessProfile(name, nameKey, knownProfiles), look.symbolName,
                                      look.badgeColorHex});
        }
    }
    std::stable_sort(found.begin(), found.end(),
                     [](const LegacyApp& a, const LegacyApp& b) { return a.name < b.name; });
    return found;
}

} // namespace Migration

namespace {

QString standardizedPath(const QString& path) {
    return QDir::cleanPath(QDir(path).absolutePath());
}

// The import's error line: its last failure as it was worded, then the ticked apps that had no profile.
std::optional<QString> importErrorLine(const std::optional<QString>& lastError,
                                       const std::vector<LegacyApp>& withoutProfile) {
    if (withoutProfile.empty())
        return lastError;
    QStringList names;
    for (const LegacyApp& app : withoutProfile)
        names << app.name;
    const QString skipped =
        QStringLiteral("Not imported, no Chrome profile chosen: ") + names.join(QStringLiteral(", "));
    if (!lastError)
        return skipped;
    // A build's failure text may lack its full stop; the two stay two sentences.
    const bool endsSentence = lastError->endsWith(QLatin1Char('.'));
    return *lastError + (endsSentence ? QStringLiteral(" ") : QStringLiteral(". ")) + skipped;
}

} // namespace

void AppModel::offerMigrationIfNeeded() {
    if (host::defaults().boolValue(Corvane::creatorBundleID, Migration::declinedKey))
        return;
    setLegacyApps(Migration::findLegacyApps(profiles_));
    if (legacyApps_.empty())
        return;
    QMap<QString, MigrationChoice> choices;
    for (const LegacyApp& app : legacyApps_) {
        QString directory;
        if (app.guessedProfile)
            directory = app.guessedProfile->directory;
        else if (!profiles_.empty())
            directory = profiles_.front().directory;
        choices.insert(app.id(), MigrationChoice{true, directory});
    }
    setMigrationChoices(choices);
    setShowingMigration(true);
}

bool AppModel::migrationSelection(const LegacyApp& app) const {
    return migrationChoices_.value(app.id()).selected;
}

void AppModel::setMigrationSelection(const LegacyApp& app, bool selected) {
    auto found = migrationChoices_.find(app.id());
    if (found == migrationChoices_.end())
        return;
    found->selected = selected;
    emit migrationChoicesChanged();
}

QString AppModel::migrationProfile(const LegacyApp& app) const {
    return migrationChoices_.value(app.id()).profileDirectory;
}

void AppModel::setMigrationProfile(const LegacyApp& app, const QString& profileDirectory) {
    auto found = migrationChoices_.find(app.id());
    if (found == migrationChoices_.end())
        return;
    found->profileDirectory = profileDirectory;
    emit migrationChoicesChanged();
}

void AppModel::runMigration() {
    setShowingMigration(false);
    setIsBusy(true);
    std::vector<std::pair<LegacyApp, ChromeProfile>> work;
    // Ticked apps whose chosen profile Chrome does not have: nothing can be built for them, and saying so
    // keeps them from vanishing behind a count of zero.
    std::vector<LegacyApp> withoutProfile;
    for (const LegacyApp& app : legacyApps_) {
        const auto choice = migrationChoices_.constFind(app.id());
        if (choice == migrationChoices_.constEnd() || !choice->selected)
            continue;
        auto profile = std::find_if(profiles_.begin(), profiles_.end(), [&](const ChromeProfile& candidate) {
            return candidate.directory == choice->profileDirectory;
        });
        if (profile == profiles_.end()) {
            withoutProfile.push_back(app);
            continue;
        }
        work.emplace_back(app, *profile);
    }
    const QString identity = SigningIdentity::preferred();

    BuildFunction build = buildApp;
    runInBackground(
        [build, work, identity] {
            BuildOutcome outcome;
            for (const auto& [app, profile] : work) {
                // The name comes from a foreign Info.plist: it must pass what the editor asks of a name.
                EditorState named;
                named.name = app.name;
                if (const auto problem = named.nameProblem()) {
                    outcome.lastError = QStringLiteral("“") + app.name + QStringLiteral("”: ") + *problem;
                    continue;
                }
                BuildRequest request;
                request.name = named.trimmedName();
                request.bundleID = Corvane::newBundleID(QSet<QString>{});
                request.destinationDirectory = QUrl::fromLocalFile(QFileInfo(app.url.toLocalFile()).path());
                request.registerAsBrowser = false;
                request.config = StubConfig(profile.directory, profile.name, std::nullopt, true, false, true,
                                            false, app.symbolName, app.badgeColorHex,
                                            StubConfig::SymbolStyle::Auto, StubConfig::IconStyle::Segments);
                // The import may replace the old app itself, but never an unrelated app of the same name.
                const QString destination = request.destinationPath();
                if (QFileInfo::exists(destination) &&
                    standardizedPath(destination) != standardizedPath(app.url.toLocalFile())) {
                    outcome.lastError = QStringLiteral("Something else is already called “") + request.name +
                                        QStringLiteral("” in that folder.");
                    continue;
                }
                try {
                    outcome.built.push_back(build(request, identity));
                } catch (const std::exception& error) {
                    outcome.lastError = host::describe(error);
                    continue;
                }
                // An empty identifier would reset the grant of every application.
                if (!app.bundleID.isEmpty()) {
                    try {
                        HelperInstaller::run(
                            QStringLiteral("/usr/bin/tccutil"),
                            {QStringLiteral("reset"), QStringLiteral("Accessibility"), app.bundleID});
                    } catch (const std::exception&) {
                    }
                }
                ++outcome.counted;
            }
            return outcome;
        },
        [this, withoutProfile](const BuildOutcome& outcome) {
            setIsBusy(false);
            registry_.rescan();
            saveRegistry();
            republishApps();
            // Whatever was skipped, the offer is over: a second one would tick again the apps just imported
            // beside their old bundles.
            setLegacyApps({});
            host::defaults().setBool(Corvane::creatorBundleID, Migration::declinedKey, true);
            if (!outcome.lastError) {
                const int count = outcome.counted;
                setStatusMessage(QStringLiteral("Imported %1 app%2.").arg(count).arg(count == 1 ? "" : "s"));
            }
            if (const auto error = importErrorLine(outcome.lastError, withoutProfile))
                setErrorMessage(*error);
        });
}

QString AppModel::renameRowTitle() const {
    const bool outstanding = renameOutcome_.hasLeftovers() ||
                             std::any_of(apps_.begin(), apps_.end(), [](const RegisteredApp& app) {
                                 return app.needsRebuildAfterRename();
                             });
    if (outstanding)
        return QStringLiteral("This is now Corvane");
    const int count = appsNeedingRebuild();
    if (count == 1)
        return QStringLiteral("1 app can be updated");
    return QStringLiteral("%1 apps can be updated").arg(count);
}

QString AppModel::renameAdvice() const {
    if (appsNeedingRebuild() == 0)
        return QStringLiteral("Your apps are up to date. The old app and its support folder can go.");
    if (std::any_of(apps_.begin(), apps_.end(),
                    [](const RegisteredApp& app) { return app.needsRebuildAfterRename(); })) {
        QString advice;
        if (renameOutcome_.registryEntries >= 1)
            advice = QStringLiteral("Your %1 apps came across. ").arg(renameOutcome_.registryEntries);
        return advice + QStringLiteral("Rebuild them so they can reach the renamed helper — until then ") +
               QStringLiteral("they'll open Chrome but track its windows only roughly.");
    }
    QStringList reasons;
    for (const RegisteredApp& app : outdatedApps())
        for (const QString& reason : app.rebuildReasons())
            if (!reasons.contains(reason))
                reasons << reason;
    return reasons.join(QLatin1Char(' '));
}

void AppModel::removeRenameLeftovers() {
    try {
        RenameMigration::removeLeftovers(renameOutcome_.oldCreatorPath);
        setRenameOutcome(RenameMigration::currentState());
        setStatusMessage(QStringLiteral("Moved the old Tavrimo files to the Trash."));
    } catch (const std::exception& error) {
        setErrorMessage(QStringLiteral("Couldn't remove the old files: ") + host::describe(error));
    }
}
