#include "CorvaneCore/RuleStore.h"

#include "CorvaneCore/Logging.h"
#include "CorvaneCore/Paths.h"

#include <QFile>
#include <QTimeZone>
#include <sys/stat.h>

namespace {

// One stat of the plain path: the whole cost of a reload check when nothing changed. None when the file's
// attributes cannot be read (missing, no permission).
std::optional<RuleStore::FileTime> modificationTime(const QString& path) {
    struct stat info {};
    if (::stat(QFile::encodeName(path).constData(), &info) != 0)
        return std::nullopt;
    return RuleStore::FileTime{qint64(info.st_mtim.tv_sec), qint64(info.st_mtim.tv_nsec)};
}

RuleSet readRuleSet(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw corvane::Error(file.errorString());
    return RuleSet::fromJson(JSONDecoder::corvane().decode(file.readAll()));
}

} // namespace

RuleStore& RuleStore::shared() {
    static RuleStore store;
    return store;
}

RuleStore::RuleStore() {
    reloadIfChanged();
}

std::optional<QDateTime> RuleStore::loadedModification() const {
    if (!loadedModification_)
        return std::nullopt;
    return QDateTime::fromMSecsSinceEpoch(loadedModification_->seconds * 1000 + loadedModification_->nanoseconds / 1000000,
                                          QTimeZone::utc());
}

bool RuleStore::reloadIfChanged() {
    const QString path = Corvane::rulesURL();
    const std::optional<FileTime> current = modificationTime(path);
    if (!current) {
        if (!loadedModification_ && set_.rules.empty())
            return false;
        // The file went away: every process drops its rules at its next look.
        loadedModification_.reset();
        set_ = RuleSet{};
        holdsUnreadableFile_ = false;
        return true;
    }
    if (current == loadedModification_)
        return false;

    // Taken before decoding, so a broken file is read (and logged) once per version.
    loadedModification_ = current;
    try {
        set_ = readRuleSet(path);
        holdsUnreadableFile_ = false;
    } catch (const corvane::Error&) {
        Log::helper.error(QStringLiteral("rules.json could not be read; routing everything to the fallback"));
        set_ = RuleSet{};
        holdsUnreadableFile_ = true;
    }
    return true;
}

RuleSet RuleStore::current() {
    reloadIfChanged();
    return set_;
}

void RuleStore::save(const RuleSet& set) {
    const QString path = Corvane::rulesURL();
    Corvane::ensureSupportDirectory();
    const QByteArray data = JSONEncoder::corvane().encode(set.toJson());
    // The defaults held in place of a file that could not be decoded would otherwise replace the user's
    // rules without a trace.
    if (holdsUnreadableFile_)
        Corvane::preserveUnreadableFile(path);
    Corvane::writeFileAtomically(path, data);
    holdsUnreadableFile_ = false;
    set_ = set;
    // The store's own write is not a change for its next reload.
    loadedModification_ = modificationTime(path);
}
