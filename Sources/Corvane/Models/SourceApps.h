#pragma once

#include <QString>
#include <QtGlobal>

// An application that may send links: offered to rule conditions of the kind "apps" and to the tester.
struct SourceApp {
    QString bundleID;
    QString name;
    bool wasSeen = false; // it sent at least one link of the recent-links list

    const QString& id() const { return bundleID; }
    bool operator==(const SourceApp&) const = default;
};

size_t qHash(const SourceApp& app, size_t seed = 0) noexcept;
