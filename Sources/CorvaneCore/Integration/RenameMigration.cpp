#include "CorvaneCore/Integration/RenameMigration.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneHost/Defaults.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Trash.h"
#include "CorvaneHost/Workspace.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryFile>
#include <unistd.h>

namespace RenameMigration {

namespace {

const QString tccutilPath = QStringLiteral("/usr/bin/tccutil");

bool isMigrationCompleted() {
    return host::defaults().boolValue(Corvane::creatorBundleID, completedKey);
}

void markMigrationCompleted() {
    host::defaults().setBool(Corvane::creatorBundleID, completedKey, true);
}

QString presentFile(const QString& name) {
    return Corvane::supportDirectory() + QLatin1Char('/') + name;
}

// Anything at the path counts, a dangling link included: it must never be replaced.
bool somethingExistsAt(const QString& path) {
    const QFileInfo info(path);
    return info.exists() || info.isSymLink();
}

// Copies `source` to `destination` without ever leaving a partial file there: the bytes go to a temporary
// file beside the destination, which is renamed into place only when complete. The rename does not replace a
// file that appeared meanwhile. A partial destination would otherwise pass for a migrated file at the next
// run and let the former folder be trashed with the only full copy. Returns the reason on failure.
std::optional<QString> copyCompletely(const QString& source, const QString& destination) {
    const QString name = QFileInfo(source).fileName();
    auto failure = [&](const QString& reason) {
        return QStringLiteral("“%1” couldn’t be copied: %2").arg(name, reason);
    };

    QFile input(source);
    if (!input.open(QIODevice::ReadOnly))
        return failure(input.errorString());

    QTemporaryFile output(QFileInfo(destination).absolutePath() + QStringLiteral("/.") + name +
                          QStringLiteral(".migrating-XXXXXX"));
    if (!output.open())
        return failure(output.errorString());

    char buffer[64 * 1024];
    for (;;) {
        const qint64 read = input.read(buffer, sizeof buffer);
        if (read < 0)
            return failure(input.errorString());
        if (read == 0)
            break;
        if (output.write(buffer, read) != read)
            return failure(output.errorString());
    }
    if (!output.flush() || ::fsync(output.handle()) != 0)
        return failure(output.errorString());
    // As the file manager does: keep the permissions and the modification date.
    output.setPermissions(input.permissions());
    output.setFileTime(QFileInfo(source).lastModified(), QFileDevice::FileModificationTime);

    const QString temporaryPath = output.fileName();
    output.setAutoRemove(false);
    output.close();
    QFile complete(temporaryPath);
    if (!complete.rename(destination)) {
        const QString reason = complete.errorString();
        QFile::remove(temporaryPath);
        return failure(reason);
    }
    return std::nullopt;
}

void terminateFormerHelpers(const QString& helperBundleID) {
    host::Workspace& workspace = host::workspace();
    for (const host::RunningApplication& application : workspace.runningApplications()) {
        if (application.bundleIdentifier == helperBundleID)
            workspace.terminate(application.processIdentifier);
    }
}

// The first file of the former support folder that has no counterpart in the present one, if any. A present
// file that was there before the migration counts: it was kept on purpose over the former one.
std::optional<QString> firstUnmigratedFile(const Corvane::PreviousIdentity& identity) {
    for (const QString& name : migratedFileNames()) {
        const QString source = identity.supportDirectory() + QLatin1Char('/') + name;
        if (QFileInfo::exists(source) && !somethingExistsAt(presentFile(name)))
            return name;
    }
    return std::nullopt;
}

} // namespace

const QStringList& migratedFileNames() {
    static const QStringList names{QStringLiteral("registry.json"), QStringLiteral("rules.json"),
                                   QStringLiteral("recent-links.json"), QStringLiteral("settings.json")};
    return names;
}

MigrationError::MigrationError(Code code, const QString& detail)
    : host::Error(QStringLiteral("“%1” of the former support folder has not been migrated, so the folder "
                                 "was not moved to the Trash")
                      .arg(detail))
    , code_(code) {}

Outcome currentState() {
    Outcome outcome;
    const auto identity = Corvane::identityToMigrateFrom();
    if (!identity)
        return outcome;
    outcome.hasOldSupportDirectory = true;
    if (const auto url = host::workspace().urlForApplication(identity->creatorBundleID)) {
        outcome.oldCreatorPath = *url;
    } else {
        const QString inApplications = QStringLiteral("/Applications/") + identity->creatorAppName;
        if (QFileInfo::exists(inApplications))
            outcome.oldCreatorPath = inApplications;
    }
    return outcome;
}

Outcome runIfNeeded() {
    Outcome report = currentState();
    if (isMigrationCompleted())
        return report;
    const auto identity = Corvane::identityToMigrateFrom();
    if (!identity) {
        markMigrationCompleted();
        return report;
    }

    terminateFormerHelpers(identity->helperBundleID());
    try {
        Corvane::ensureSupportDirectory();
    } catch (const host::Error&) {
        // Every copy below then fails and is logged; the next start tries again.
    }

    bool everythingCopied = true;
    for (const QString& name : migratedFileNames()) {
        const QString source = identity->supportDirectory() + QLatin1Char('/') + name;
        const QString destination = presentFile(name);
        if (!QFileInfo::exists(source) || somethingExistsAt(destination))
            continue;
        if (const auto error = copyCompletely(source, destination)) {
            Log::creator.error(QStringLiteral("could not migrate %1: %2").arg(name, *error));
            everythingCopied = false;
            continue;
        }
        if (name == QLatin1String("registry.json"))
            report.registryEntries = countApps(destination);
        Log::creator.log(QStringLiteral("migrated %1 from %2").arg(name, identity->supportDirectoryName));
    }

    clearPermissions(identity->helperBundleID());
    // Marking the migration done after a failed copy would leave that data behind for good; the next start
    // retries, and files that did arrive are not copied again.
    if (everythingCopied)
        markMigrationCompleted();
    return report;
}

void removeLeftovers(const std::optional<QString>& oldCreator) {
    if (oldCreator && somethingExistsAt(*oldCreator))
        host::moveToTrash(*oldCreator);
    const auto identity = Corvane::identityToMigrateFrom();
    if (!identity)
        return;
    if (const auto name = firstUnmigratedFile(*identity))
        throw MigrationError(MigrationError::Code::notMigrated, *name);
    host::moveToTrash(identity->supportDirectory());
}

int countApps(const QString& registryPath) {
    QFile file(registryPath);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &error);
    if (error.error != QJsonParseError::NoError)
        return 0;
    if (document.isArray())
        return int(document.array().size());
    if (document.isObject()) {
        const QJsonValue apps = document.object().value(QLatin1String("apps"));
        if (apps.isArray())
            return int(apps.toArray().size());
    }
    return 0;
}

void clearPermissions(const QString& bundleIdentifier) {
    for (const char* service : {"Accessibility", "AppleEvents"}) {
        try {
            HelperInstaller::run(tccutilPath,
                                 {QStringLiteral("reset"), QLatin1String(service), bundleIdentifier});
        } catch (const host::Error&) {
            // A permission that was never granted cannot be reset; nothing depends on it.
        }
    }
}

} // namespace RenameMigration
