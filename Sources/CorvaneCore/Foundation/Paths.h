#pragma once

#include "CorvaneHost/Error.h"

#include <QByteArray>
#include <QDateTime>
#include <QJsonValue>
#include <QString>
#include <optional>
#include <vector>

// The product's identity and the places of its files.
namespace Corvane {

inline const QString bundleIDPrefix = QStringLiteral("app.corvane");
inline const QString creatorBundleID = QStringLiteral("app.corvane.main");
inline const QString helperBundleID = QStringLiteral("app.corvane.helper");
inline const QString chromeBundleID = QStringLiteral("com.google.Chrome");
inline const QString logSubsystem = QStringLiteral("app.corvane");
inline const QString helperInBundle = QStringLiteral("Contents/Library/CorvaneHelper.app");
inline const QString stubTemplateInBundle = QStringLiteral("Contents/Library/StubTemplate.app");

// Locations, formed anew at every call from the current home folder; nothing is checked for existence.
QString supportDirectory();
QString settingsURL();
QString rulesURL();
QString registryURL();
QString recentLinksURL();
QString lockURL();
QString installedHelperURL();
QString socketPath();

// Creates the support folder (and missing parents) with mode 0700; an existing folder is left as it is.
// Throws host::SystemError when it cannot be created.
void ensureSupportDirectory();

// A former identity of the product.
struct PreviousIdentity {
    QString bundleIDPrefix;
    QString creatorBundleID;
    QString supportDirectoryName;
    QString helperAppName;
    QString stubExecutableName;
    QString creatorAppName;

    QString helperBundleID() const { return bundleIDPrefix + QStringLiteral(".helper"); }
    QString supportDirectory() const;
    bool operator==(const PreviousIdentity&) const = default;
};

const std::vector<PreviousIdentity>& previousIdentities();
// The first former identity whose support folder exists (anything at that path counts), or none.
std::optional<PreviousIdentity> identityToMigrateFrom();

// Whether a bundle identifier is the product's own (present or former identity).
bool isOurBundleID(const QString& bundleID);

// Writes `bytes` to `path` atomically (a temporary file renamed into place). Throws host::SystemError.
void writeFileAtomically(const QString& path, const QByteArray& bytes);

// Before a store first writes over a file it could not decode, it keeps that file beside it as
// "<name>.unreadable" so nothing the user wrote is lost. Failures are ignored: the store still saves.
void preserveUnreadableFile(const QString& path);

} // namespace Corvane
