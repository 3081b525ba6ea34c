#pragma once

#include "CorvaneHost/Error.h"

#include <QString>
#include <QStringList>
#include <optional>

// Takes over the data of a former identity of the product once, stops and forgets the former helper, and
// reports what of the former identity is still on disk so the creator app can offer to move it to the Trash.
// Runs in the creator app only.
namespace RenameMigration {

// The Boolean user default of the creator app that marks the migration as done.
inline const QString completedKey = QStringLiteral("CorvaneRenameMigrationCompleted");

// The files taken over from the former support folder, in the order they are copied.
const QStringList& migratedFileNames();

struct Outcome {
    int registryEntries = 0;               // proxy apps in the registry file this run copied
    std::optional<QString> oldCreatorPath; // where the former creator app is
    bool hasOldSupportDirectory = false;   // a former support folder exists

    bool hasLeftovers() const { return oldCreatorPath.has_value() || hasOldSupportDirectory; }
    bool operator==(const Outcome&) const = default;
};

class MigrationError : public host::Error {
public:
    enum class Code {
        // A file of the former support folder has no counterpart in the present one, so the folder is the
        // only copy of that data.
        notMigrated,
    };
    MigrationError(Code code, const QString& detail);
    Code code() const { return code_; }

private:
    Code code_;
};

// What of a former identity is on disk now; changes nothing.
Outcome currentState();

// The one-time migration; returns the report. The migration counts as done only when every file that was to
// be copied was copied completely; otherwise the next run tries again (without overwriting what arrived).
Outcome runIfNeeded();

// Moves the former creator app (when given and present) and the former support folder to the Trash. Throws
// the first failure (host::SystemError), or MigrationError when the former support folder still holds
// data that was never copied; the folder is then left in place.
void removeLeftovers(const std::optional<QString>& oldCreator);

// The number of proxy apps in a registry file: the elements of a top-level array or of the "apps" array of
// a top-level object; 0 for anything else or a file that cannot be read.
int countApps(const QString& registryPath);

// Resets the Accessibility and Apple-events permissions of a bundle identifier; failures are ignored.
void clearPermissions(const QString& bundleIdentifier);

} // namespace RenameMigration
