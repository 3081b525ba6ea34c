#pragma once

#include "CorvaneCore/Foundation/JSONFileStore.h"

#include <QDateTime>
#include <QJsonObject>
#include <QJsonValue>
#include <QString>
#include <QUuid>
#include <optional>
#include <vector>

// One routed link, as the history keeps it.
struct RecentLink {
    QUuid id;
    // Stamped when the entry is made, so none is ever written without a valid date.
    QDateTime date = creationDate();
    QString url;
    std::optional<QString> sourceBundleID;
    std::optional<QString> sourceName;
    std::optional<QString> targetBundleID;
    std::optional<QString> targetName;
    std::optional<QUuid> ruleID;
    std::optional<QString> ruleName;
    bool targetWasMissing = false;

    bool operator==(const RecentLink&) const = default;

    // No rule matched: the link went to the fallback or the last-resort browser.
    bool isFallback() const { return !ruleID.has_value(); }
    bool isLocalFile() const;
    // The headline of the entry: a web link's host, a file's name, else the text itself.
    QString displayHost() const;
    // Shown right after the headline: the rest of a web link after its host, or "  in " and a file's folder.
    QString displayPath() const;

    // Optional fields that are none are left out. fromJson requires "id", "date", "url" and
    // "targetWasMissing" and throws JSONDecodingError when one is missing or any key is mistyped.
    QJsonObject toJson() const;
    static RecentLink fromJson(const QJsonValue& json);

private:
    static QDateTime creationDate();
};

size_t qHash(const RecentLink& link, size_t seed = 0);

// The history of routed links in "recent-links.json", newest first, shared by the processes. The list is kept
// in memory and the file re-read only when it changed on disk. Used on the main thread.
class RecentLinksStore {
public:
    static constexpr int limit = 200;

    // One store per process, made on first use.
    static RecentLinksStore& shared();

    // Starts empty and loads the file at once.
    RecentLinksStore();

    const std::vector<RecentLink>& links() const { return file_.value(); }

    // Re-reads the file when it changed; true when `links` may have changed.
    bool reloadIfChanged();
    // Adds a link at the front, keeping at most `limit`, and writes the file.
    void record(const RecentLink& link);
    // Empties the history and writes the file.
    void clear();

private:
    void write(std::vector<RecentLink> links);

    // Told apart by identity and size as well as time: see FileIdentityAndTime.
    JSONFileStore<std::vector<RecentLink>, FileIdentityAndTime> file_;
};
