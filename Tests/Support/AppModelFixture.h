#pragma once

#include "Corvane/Models/AppModel.h"
#include "Support/FakeHelperConnection.h"
#include "Support/ModelEnvironment.h"

#include <gtest/gtest.h>

namespace test {

// An app model over a scripted helper, a fake builder and the model environment; the helper copy is
// installed, so proxy apps can be created.
class AppModelFixture : public testing::Test {
protected:
    ModelEnvironment environment;
    std::shared_ptr<FakeHelperConnection> link = std::make_shared<FakeHelperConnection>();
    FakeBuilder builder;
    std::unique_ptr<AppModel> model;

    void SetUp() override {
        environment.installHelperCopy();
        model = makeModel();
    }

    std::unique_ptr<AppModel> makeModel() {
        auto made = std::make_unique<AppModel>(link);
        made->buildApp = builder.function();
        made->installHelper = [](bool) { return false; };
        // The catalog's load has tests of its own; here it would only run on beside every test.
        made->loadSymbolCatalog = {};
        return made;
    }

    static ChromeProfile profileNamed(const QString& directory, const QString& name) {
        ChromeProfile profile;
        profile.directory = directory;
        profile.name = name;
        return profile;
    }

    static StubConfig configFor(const QString& profileDirectory,
                                const QString& profileName = QStringLiteral("Work")) {
        return StubConfig(profileDirectory, profileName, std::nullopt, true, false, true, false,
                          QStringLiteral("briefcase.fill"), QStringLiteral("#1F2124"));
    }

    // A proxy app on disk, found by the load's rescan.
    RegisteredApp installApp(const QString& name, const QString& bundleID,
                             const QString& profileDirectory = QStringLiteral("Default"),
                             std::optional<int> revision = 7) {
        const QString path = environment.applications() + QLatin1Char('/') + name + QStringLiteral(".app");
        writeProxyBundle(path, bundleID, configFor(profileDirectory), revision);
        RegisteredApp app;
        app.bundleID = bundleID;
        app.name = name;
        app.path = path;
        app.config = configFor(profileDirectory);
        app.stubRevision = revision;
        return app;
    }

    void connectTrustedHelper() {
        link->setState(HelperConnection::State::connected);
        link->pushTrust(true);
        environment.time().runUntilIdle();
    }

    // Waits for the running build to report back.
    bool finishBuild() {
        return environment.time().runUntil([&] { return !model->isBusy(); });
    }

    const RegisteredApp* app(const QString& bundleID) const {
        for (const RegisteredApp& candidate : model->apps())
            if (candidate.bundleID == bundleID)
                return &candidate;
        return nullptr;
    }

    void editName(const QString& name) {
        EditorState edited = model->editor();
        edited.name = name;
        model->setEditor(edited);
    }
};

} // namespace test
