#include "Corvane/Models/DestinationPicker.h"
#include "Corvane/Models/EditorState.h"
#include "Support/ModelEnvironment.h"

#include <gtest/gtest.h>

namespace {

TEST(DestinationPicker, AsksForOneFolderStartingWhereTheCallerSaysOrWasLastChosen) {
    test::ModelEnvironment environment;
    auto& panels = environment.panels();
    const QString home = QDir::homePath();
    panels.directoryAnswers = {home + QStringLiteral("/Apps"), std::nullopt, home + QStringLiteral("/B")};

    // Nothing given, nothing remembered: ~/Applications, which need not exist.
    EXPECT_EQ(DestinationPicker::ask(std::nullopt), QUrl::fromLocalFile(home + QStringLiteral("/Apps")));
    ASSERT_EQ(panels.directoryPanels.size(), 1u);
    const host::OpenPanelOptions& options = panels.directoryPanels[0];
    EXPECT_EQ(options.startDirectory, home + QStringLiteral("/Applications"));
    EXPECT_EQ(options.title, QStringLiteral("Where should the apps be saved?"));
    EXPECT_EQ(options.prompt, QStringLiteral("Choose"));
    EXPECT_EQ(options.message, QStringLiteral("Pick a folder for the apps this creates. Put them in an "
                                              "Applications folder if you want them in Spotlight."));
    EXPECT_TRUE(options.canCreateDirectories);

    // The picker stores nothing; a remembered folder is used, a given one wins over it.
    EXPECT_FALSE(EditorState::rememberedDestination().has_value());
    EditorState::setRememberedDestination(QUrl::fromLocalFile(home + QStringLiteral("/Remembered")));
    EXPECT_EQ(DestinationPicker::ask(std::nullopt), std::nullopt); // cancelled
    EXPECT_EQ(panels.directoryPanels[1].startDirectory, home + QStringLiteral("/Remembered"));
    DestinationPicker::ask(QUrl::fromLocalFile(home + QStringLiteral("/Given")));
    EXPECT_EQ(panels.directoryPanels[2].startDirectory, home + QStringLiteral("/Given"));
}

} // namespace
