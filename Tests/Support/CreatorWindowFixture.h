#pragma once

#include "Corvane/Models/CreatorApp.h"
#include "Corvane/Views/Window/RootView.h"
#include "Corvane/Views/Window/SidebarView.h"
#include "Support/AppModelFixture.h"

#include <QListWidget>
#include <QTest>
#include <memory>

namespace test {

// The creator app's root view on the real models, over the scripted helper, the fake builder and the model
// environment (virtual time, a fake workspace, scripted panels). Install apps and write routing files before
// `showWindow()`, which shows the view, lets it be drawn and runs its start-up.
class CreatorWindowFixture : public AppModelFixture {
protected:
    std::unique_ptr<CreatorApp> creator;
    std::unique_ptr<RootView> root;

    void SetUp() override { environment.installHelperCopy(); }
    void TearDown() override {
        root.reset();
        creator.reset();
    }

    void showWindow() {
        creator = std::make_unique<CreatorApp>(link);
        AppModel& app = creator->model();
        app.buildApp = builder.function();
        app.installHelper = [](bool) { return false; };
        app.loadSymbolCatalog = {};
        root = std::make_unique<RootView>(*creator);
        root->resize(980, 640);
        root->show();
        // The models start once the window's content is first drawn.
        EXPECT_TRUE(QTest::qWaitForWindowExposed(root.get()));
        QCoreApplication::processEvents();
        environment.time().runUntilIdle();
        QCoreApplication::processEvents();
    }

    AppModel& appModel() { return creator->model(); }
    RoutingModel& routing() { return creator->routing(); }
    SidebarView& sidebar() { return *root->sidebar(); }

    // The selection whose row the sidebar highlights, or none.
    std::optional<AppModel::Selection> highlighted() {
        QListWidgetItem* current = sidebar().list()->currentItem();
        if (!current || !current->isSelected())
            return std::nullopt;
        for (auto selection : {AppModel::Selection::rules(), AppModel::Selection::system(),
                               AppModel::Selection::recentLinks()})
            if (sidebar().item(selection) == current)
                return selection;
        for (const RegisteredApp& registered : appModel().apps())
            if (sidebar().item(AppModel::Selection::saved(registered.bundleID)) == current)
                return AppModel::Selection::saved(registered.bundleID);
        for (const AppModel::DraftApp& draft : appModel().drafts())
            if (sidebar().item(AppModel::Selection::draft(draft.id)) == current)
                return AppModel::Selection::draft(draft.id);
        return std::nullopt;
    }

    void renameEditor(const QString& name) {
        EditorState edited = appModel().editor();
        edited.name = name;
        appModel().setEditor(edited);
    }

    bool finishWindowBuild() {
        return environment.time().runUntil([&] { return !appModel().isBusy(); });
    }
};

} // namespace test
