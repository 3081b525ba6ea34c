#pragma once

// What the creator app finds on disk in the benchmarks of its start: two Chrome profiles, 50 registered proxy
// apps, 200 rules and 500 recent links, all below the current home folder.
#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "Support/ModelEnvironment.h"

#include <QJsonArray>

namespace bench {

inline void writeChromeProfiles() {
    const QString path = ChromeProfiles::localStateURL();
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    file.open(QIODevice::WriteOnly);
    file.write(R"({"profile":{"info_cache":{"Profile 1":{"name":"Work","user_name":"me@work.example"},)"
               R"("Profile 2":{"name":"Home"}},"profiles_order":["Profile 1","Profile 2"]}})");
}

inline QString applicationsFolder() {
    const QString path = QDir::homePath() + QStringLiteral("/Applications");
    QDir().mkpath(path);
    return path;
}

inline void writeFixtures() {
    writeChromeProfiles();
    Registry registry;
    for (int i = 0; i < 50; ++i) {
        const QString bundleID = QStringLiteral("app.corvane.bench%1").arg(i);
        const QString path = applicationsFolder() + QStringLiteral("/App %1.app").arg(i);
        const StubConfig config(QStringLiteral("Profile 1"), QStringLiteral("Work"));
        test::writeProxyBundle(path, bundleID, config);
        RegisteredApp app;
        app.bundleID = bundleID;
        app.name = QStringLiteral("App %1").arg(i);
        app.path = path;
        app.config = config;
        app.createdAt = QDateTime::currentDateTimeUtc();
        app.stubRevision = StubRevision::current;
        registry.apps.push_back(app);
    }
    registry.save();

    RuleSet rules;
    for (int i = 0; i < 200; ++i) {
        Condition condition{Condition::Kind::addresses, {QStringLiteral("*.example%1.com").arg(i)}};
        rules.rules.push_back(LinkRule{QUuid::createUuid(),
                                       QStringLiteral("Rule %1").arg(i),
                                       RouteTarget::browser(QStringLiteral("org.mozilla.firefox")),
                                       true,
                                       MatchMode::any,
                                       {condition}});
    }
    RuleStore::shared().save(rules);

    QJsonArray links;
    for (int i = 0; i < 500; ++i) {
        RecentLink link;
        link.id = QUuid::createUuid();
        link.date = QDateTime::currentDateTimeUtc().addSecs(-i * 600);
        link.url = QStringLiteral("https://site%1.example%2.com/page").arg(i).arg(i % 7);
        link.sourceBundleID = QStringLiteral("com.example.source%1").arg(i % 20);
        link.sourceName = QStringLiteral("Source %1").arg(i % 20);
        links.append(link.toJson());
    }
    Corvane::writeFileAtomically(Corvane::recentLinksURL(), JSONEncoder::corvane().encode(links));
}

// The process-wide stores read their files afresh, as at a real start: rewrite them unchanged.
inline void touchStores() {
    for (const QString& path : {Corvane::rulesURL(), Corvane::recentLinksURL(), Corvane::settingsURL()}) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            Corvane::writeFileAtomically(path, file.readAll());
    }
}

} // namespace bench
