// The open panels of the creator app's window: the application chooser lists the desktop's applications and
// answers the chosen one's path; the folder panel answers a folder.
#include "CorvaneHost/Linux/Widgets/WidgetPanels.h"
#include "CorvaneHost/PropertyList.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

class WidgetPanelsTest : public testing::Test {
protected:
    QTemporaryDir root;
    QByteArray savedDataHome = qgetenv("XDG_DATA_HOME");
    QByteArray savedDataDirs = qgetenv("XDG_DATA_DIRS");
    QByteArray savedApplications = qgetenv("CORVANE_APPLICATIONS_PATH");

    void SetUp() override {
        qputenv("XDG_DATA_HOME", QFile::encodeName(path("home-data")));
        qputenv("XDG_DATA_DIRS", QFile::encodeName(path("system-data")));
        qputenv("CORVANE_APPLICATIONS_PATH", QFile::encodeName(path("Apps")));
    }
    void TearDown() override {
        qputenv("XDG_DATA_HOME", savedDataHome);
        qputenv("XDG_DATA_DIRS", savedDataDirs);
        qputenv("CORVANE_APPLICATIONS_PATH", savedApplications);
    }

    QString path(const QString& relative) const { return root.path() + QLatin1Char('/') + relative; }

    QString writeEntry(const QString& folder, const QString& id, const QStringList& extraLines) {
        QDir().mkpath(path(folder));
        const QString file = path(folder) + QLatin1Char('/') + id + QStringLiteral(".desktop");
        QFile out(file);
        out.open(QIODevice::WriteOnly);
        QStringList lines{QStringLiteral("[Desktop Entry]"), QStringLiteral("Type=Application"),
                          QStringLiteral("Exec=/usr/bin/true %U")};
        lines += extraLines;
        out.write(lines.join(QLatin1Char('\n')).toUtf8() + '\n');
        return file;
    }
    QString writeBundle(const QString& name) {
        const QString bundle = path(QStringLiteral("Apps/") + name + QStringLiteral(".app"));
        QDir().mkpath(bundle + QStringLiteral("/Contents"));
        const QVariantMap info{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("org.example.") + name},
                               {QStringLiteral("CFBundleName"), name}};
        host::writePropertyListFile(bundle + QStringLiteral("/Contents/Info.plist"), info);
        return bundle;
    }

    // Runs `answer` on the chooser once it is up.
    static void whenModal(std::function<void(QDialog*)> answer) {
        QTimer::singleShot(0, [answer] {
            auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget());
            ASSERT_NE(dialog, nullptr);
            answer(dialog);
        });
    }
};

TEST_F(WidgetPanelsTest, TheChooserListsBundlesAndShownEntriesOnceByName) {
    const QString zeta = writeBundle(QStringLiteral("Zeta"));
    const QString alpha = writeBundle(QStringLiteral("Alpha"));
    writeEntry(QStringLiteral("system-data/applications"), QStringLiteral("mail"),
               {QStringLiteral("Name=Mail")});
    // A user's entry hides the system's of the same ID.
    const QString browser = writeEntry(QStringLiteral("home-data/applications"), QStringLiteral("web"),
                                       {QStringLiteral("Name=Web")});
    writeEntry(QStringLiteral("system-data/applications"), QStringLiteral("web"),
               {QStringLiteral("Name=Old Web")});
    writeEntry(QStringLiteral("system-data/applications"), QStringLiteral("hidden"),
               {QStringLiteral("Name=Hidden"), QStringLiteral("NoDisplay=true")});
    // The entry written for a bundle stands for the bundle.
    writeEntry(QStringLiteral("home-data/applications"), QStringLiteral("org.example.Alpha"),
               {QStringLiteral("Name=Alpha"), QStringLiteral("X-Corvane-Bundle=") + alpha});

    QStringList names;
    QStringList paths;
    for (const host::ApplicationChoice& choice : host::applicationChoices()) {
        names.append(choice.name);
        paths.append(choice.path);
    }
    EXPECT_EQ(names, (QStringList{QStringLiteral("Alpha"), QStringLiteral("Mail"), QStringLiteral("Web"),
                                  QStringLiteral("Zeta")}));
    EXPECT_EQ(paths[0], alpha);
    EXPECT_EQ(paths[2], browser);
    EXPECT_EQ(paths[3], zeta);
}

TEST_F(WidgetPanelsTest, TheChooserAnswersTheChosenRowATypedBundleOrNothing) {
    const QString alpha = writeBundle(QStringLiteral("Alpha"));
    host::WidgetPanels panels;
    host::OpenPanelOptions options;
    options.message = QStringLiteral("Which app should this rule match links from?");
    options.prompt = QStringLiteral("Choose");

    whenModal([](QDialog* dialog) {
        auto* list = dialog->findChild<QListWidget*>(QStringLiteral("Applications"));
        ASSERT_EQ(list->count(), 1);
        list->setCurrentRow(0);
        dialog->accept();
    });
    EXPECT_EQ(panels.chooseApplication(options), alpha);

    // A typed path that is no application leaves "Choose" off; a bundle folder turns it on.
    const QString elsewhere = path(QStringLiteral("Elsewhere/Beta.app"));
    QDir().mkpath(elsewhere);
    whenModal([&](QDialog* dialog) {
        auto* field = dialog->findChild<QLineEdit*>(QStringLiteral("ApplicationPath"));
        QPushButton* choose = nullptr;
        for (QPushButton* button : dialog->findChildren<QPushButton*>())
            if (button->text() == QStringLiteral("Choose"))
                choose = button;
        ASSERT_NE(choose, nullptr);
        field->setText(path(QStringLiteral("Elsewhere")));
        EXPECT_FALSE(choose->isEnabled());
        field->setText(elsewhere + QLatin1Char('/'));
        EXPECT_TRUE(choose->isEnabled());
        choose->click();
    });
    EXPECT_EQ(panels.chooseApplication(options), elsewhere);

    whenModal([](QDialog* dialog) { dialog->reject(); });
    EXPECT_FALSE(panels.chooseApplication(options).has_value());
}

TEST_F(WidgetPanelsTest, TheFolderPanelAnswersTheFolder) {
    QDir().mkpath(path(QStringLiteral("Projects/Built")));
    host::WidgetPanels panels;
    host::OpenPanelOptions options;
    options.prompt = QStringLiteral("Save Here");
    options.startDirectory = path(QStringLiteral("Projects"));
    options.canCreateDirectories = true;
    whenModal([&](QDialog* dialog) {
        auto* panel = qobject_cast<QFileDialog*>(dialog);
        ASSERT_NE(panel, nullptr);
        EXPECT_EQ(QDir(panel->directory()).absolutePath(), path(QStringLiteral("Projects")));
        EXPECT_EQ(panel->labelText(QFileDialog::Accept), QStringLiteral("Save Here"));
        panel->selectFile(path(QStringLiteral("Projects/Built")));
        QMetaObject::invokeMethod(panel, "accept");
    });
    EXPECT_EQ(panels.chooseDirectory(options), path(QStringLiteral("Projects/Built")));
}

} // namespace
