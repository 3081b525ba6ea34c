#pragma once

#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/PageStatusBar.h"
#include "Corvane/Views/System/SystemView.h"
#include "Support/AppModelFixture.h"
#include "Support/FakeLoginItems.h"

#include <QAbstractButton>
#include <QDir>

namespace test {

// The system page over the real models, with the host doubles and the installed helper copy that the
// workspace knows as the helper.
class SystemPageFixture : public AppModelFixture {
protected:
    FakeLoginItemsScope loginItems;
    RoutingModel routing;
    std::unique_ptr<SystemView> page;

    void SetUp() override {
        AppModelFixture::SetUp();
        environment.workspace().addApplicationAt(Corvane::installedHelperURL(),
                                                 FakeWorkspace::info(Corvane::helperBundleID));
    }

    QString addBrowser(const QString& name, const QString& bundleID, const QString& version = {}) {
        return environment.workspace().addApplication(name, FakeWorkspace::browserInfo(bundleID, version));
    }

    // Loads both models as the window does and shows the page.
    void showPage() {
        routing.onHelperUseChanged = [this] { model->helperUseChanged(); };
        model->load();
        routing.load();
        environment.time().runUntilIdle();
        page = std::make_unique<SystemView>(*model, routing);
        page->resize(760, 1400);
        page->show();
    }

    template <typename T = QWidget> T* find(const QString& name) const {
        T* found = page->findChild<T*>(name);
        EXPECT_NE(found, nullptr) << name.toStdString();
        return found;
    }
    bool shown(const QString& name) const {
        const QWidget* widget = find(name);
        return widget && widget->isVisible();
    }
    // A user's click, then whatever the models finish on the main queue.
    void click(const QString& name) {
        auto* button = find<QAbstractButton>(name);
        ASSERT_NE(button, nullptr);
        ASSERT_TRUE(button->isVisible() && button->isEnabled()) << name.toStdString();
        button->click();
        environment.time().runUntilIdle();
    }
    bool checked(const QString& name) const {
        const auto* button = find<QAbstractButton>(name);
        return button && button->isChecked();
    }
    QString footer() const { return find<PageStatusBar>(QStringLiteral("pageStatusBar"))->shownMessage(); }

    // Makes a file of the support folder unwritable: a folder stands where it goes.
    static void blockFile(const QString& path) {
        Corvane::ensureSupportDirectory();
        QFile::remove(path);
        QDir().mkpath(path);
    }
    static void unblockFile(const QString& path) { QDir(path).removeRecursively(); }
};

} // namespace test
