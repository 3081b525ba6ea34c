#pragma once

// What the creator app finds on disk in the benchmarks of its start: two Chrome profiles, 50 registered proxy
// apps, 200 rules and 500 recent links, all below the current home folder; and the pieces of it that other
// benchmarks lay out in their own numbers.
#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "Support/ModelEnvironment.h"

#include <QJsonArray>
#include <functional>

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

// `count` proxy apps "App <i>" in `folder`, built and registered, the i-th with the config `configOf(i)`.
inline void registerProxyApps(const QString& folder, int count,
                              const std::function<StubConfig(int)>& configOf) {
    Registry registry;
    for (int i = 0; i < count; ++i) {
        const QString bundleID = QStringLiteral("app.corvane.bench%1").arg(i);
        const QString path = folder + QStringLiteral("/App %1.app").arg(i);
        const StubConfig config = configOf(i);
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
}

// An enabled rule "Rule <i>" that sends links of any of `addresses` to Firefox.
inline LinkRule addressRule(int i, const QStringList& addresses) {
    return LinkRule{QUuid::createUuid(),
                    QStringLiteral("Rule %1").arg(i),
                    RouteTarget::browser(QStringLiteral("org.mozilla.firefox")),
                    true,
                    MatchMode::any,
                    {Condition{Condition::Kind::addresses, addresses}}};
}

// `count` rules, the i-th for "*.example<i>.com".
inline void writeRules(int count) {
    RuleSet rules;
    for (int i = 0; i < count; ++i)
        rules.rules.push_back(addressRule(i, {QStringLiteral("*.example%1.com").arg(i)}));
    RuleStore::shared().save(rules);
}

// `count` recent links from 20 sources, ten minutes apart.
inline void writeRecentLinks(int count) {
    QJsonArray links;
    for (int i = 0; i < count; ++i) {
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

inline void writeFixtures() {
    writeChromeProfiles();
    registerProxyApps(applicationsFolder(), 50,
                      [](int) { return StubConfig(QStringLiteral("Profile 1"), QStringLiteral("Work")); });
    writeRules(200);
    writeRecentLinks(500);
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
