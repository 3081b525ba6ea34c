// The About panel: the app's name and version from its bundle, and the build date as its only credits line.
#include "Corvane/Views/System/AboutPanel.h"
#include "CorvaneHost/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QMessageBox>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

host::Bundle bundleWith(const QTemporaryDir& folder, const QVariantMap& info) {
    const QString path = folder.path() + QStringLiteral("/Corvane.app");
    QDir().mkpath(path + QStringLiteral("/Contents"));
    host::writePropertyListFile(path + QStringLiteral("/Contents/Info.plist"), info);
    return host::Bundle(path);
}

QVariantMap identity() {
    return {{QStringLiteral("CFBundleName"), QStringLiteral("Corvane")},
            {QStringLiteral("CFBundleShortVersionString"), QStringLiteral("2.1")}};
}

TEST(AboutPanel, CreditsSayWhenTheCopyWasBuilt) {
    QTemporaryDir folder;
    QVariantMap info = identity();
    info.insert(QStringLiteral("CVNBuildDate"), QStringLiteral("2026-03-04T17:05:00Z"));
    const host::Bundle bundle = bundleWith(folder, info);
    const auto credits = AboutPanel::credits(bundle);
    ASSERT_TRUE(credits.has_value());
    // The date in the user's own format.
    EXPECT_TRUE(credits->startsWith(QStringLiteral("Built "))) << credits->toStdString();
    EXPECT_TRUE(credits->contains(QStringLiteral("2026"))) << credits->toStdString();

    AboutPanel::show(bundle);
    QMessageBox* panel = AboutPanel::current();
    ASSERT_NE(panel, nullptr);
    EXPECT_TRUE(panel->isVisible());
    EXPECT_EQ(panel->windowTitle(), QStringLiteral("About Corvane"));
    EXPECT_TRUE(panel->text().contains(QStringLiteral("Version 2.1")));
    EXPECT_TRUE(panel->text().contains(*credits));
    // One panel at a time.
    AboutPanel::show(bundle);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_NE(AboutPanel::current(), panel);
    AboutPanel::current()->close();
}

TEST(AboutPanel, NoBuildDateMeansNoCreditsLineAtAll) {
    QTemporaryDir folder;
    const host::Bundle bundle = bundleWith(folder, identity());
    EXPECT_FALSE(AboutPanel::credits(bundle).has_value());
    AboutPanel::show(bundle);
    ASSERT_NE(AboutPanel::current(), nullptr);
    EXPECT_FALSE(AboutPanel::current()->text().contains(QStringLiteral("Built")));
    EXPECT_EQ(AboutPanel::current()->text().count(QStringLiteral("<p")), 2);
    AboutPanel::current()->close();
}

} // namespace
