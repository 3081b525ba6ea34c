#pragma once

#include "CorvaneCore/Foundation/JSONFileStore.h"
#include "CorvaneCore/Routing/LinkRule.h"

#include <QDateTime>
#include <QString>
#include <optional>

// The rule set of this process, kept in step with "rules.json" in the support folder. Readers call
// reloadIfChanged() before they look at the rules; it costs one file-status call when the file is unchanged.
// Used on the main thread only; the programs share the rules through the file alone.
class RuleStore {
public:
    // The process's store, created (and loaded) on first use.
    static RuleStore& shared();

    // Starts from the default rule set, then loads the file once.
    RuleStore();

    // The rules held now; read it right after reloadIfChanged().
    const RuleSet& set() const { return file_.value(); }
    // The modification date of the file when this store last read or wrote it; none before that, after the
    // file went away, or when it could not be read after a save.
    std::optional<QDateTime> loadedModification() const;

    // Reads the file again when its modification date differs from the one last seen. True when `set` was
    // replaced (also by the defaults, when the file is gone or cannot be decoded).
    bool reloadIfChanged();
    // reloadIfChanged(), then the rules.
    RuleSet current();
    // Writes the file atomically, then holds `set` and the written file's date. Throws the folder's, the
    // encoder's or the write's error; on failure nothing held changes.
    void save(const RuleSet& set);

    using FileTime = FileModificationTime;

private:
    JSONFileStore<RuleSet> file_;
};
