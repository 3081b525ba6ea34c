#include "CorvaneHost/Folders.h"
#include "CorvaneHost/ProcessRunner.h"
#include "CorvaneHost/Services.h"
#include "CorvaneIcon/BadgePlacement.h"
#include "CorvaneIcon/DMGBackground.h"
#include "CorvaneIcon/IconFiles.h"
#include "CorvaneIcon/IconRenderer.h"
#include "Support/Files.h"
#include "Support/RecordingProcessRunner.h"
#include "TestSymbols.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gmock/gmock.h>

namespace {

const QString iconutil = QStringLiteral("/usr/bin/iconutil");

IconSpec ringSpec() {
    return IconSpec("square.fill", *IconColor::fromHex("#336699"), StubConfig::SymbolStyle::Auto,
                    StubConfig::IconStyle::Ring);
}

QStringList workFolders(const QString& prefix) {
    return QDir(host::temporaryDirectory()).entryList({prefix + "*"}, QDir::Dirs | QDir::NoDotAndDotDot);
}

class IconFilesTest : public testing::Test {
protected:
    void SetUp() override { real = (host::processRunner(), host::services().processRunner); }

    test::TestSymbolsScope symbols;
    std::shared_ptr<host::ProcessRunner> real;
};

TEST_F(IconFilesTest, IconSetHoldsTenFilesRenderedOncePerSize) {
    test::RecordingProcessRunnerScope runner;
    QStringList names;
    QMap<QString, QByteArray> files;
    runner->handle(iconutil, [&](const QStringList& arguments) {
        const QDir set(arguments.last());
        EXPECT_EQ(set.dirName(), "AppIcon.iconset");
        names = set.entryList(QDir::Files, QDir::Name);
        for (const QString& name : names)
            files.insert(name, test::contents(set.filePath(name)));
        return QString();
    });
    QTemporaryDir dir;
    const QByteArray largest = IcnsWriter::write(ringSpec(), dir.filePath("AppIcon.icns"));
    ASSERT_EQ(runner->argumentsOf(iconutil).size(), 1u);
    EXPECT_EQ(runner->argumentsOf(iconutil)[0].mid(0, 4),
              QStringList({"-c", "icns", "-o", dir.filePath("AppIcon.icns")}));
    EXPECT_EQ(names.size(), 10);
    for (const auto& file : IcnsWriter::iconSetFiles())
        EXPECT_EQ(QImage::fromData(files.value(file.fileName)).size(), QSize(file.pixels, file.pixels))
            << file.fileName.toStdString();
    EXPECT_EQ(files.value("icon_16x16@2x.png"), files.value("icon_32x32.png"));
    EXPECT_EQ(files.value("icon_128x128@2x.png"), files.value("icon_256x256.png"));
    EXPECT_EQ(files.value("icon_256x256@2x.png"), files.value("icon_512x512.png"));
    EXPECT_EQ(largest, files.value("icon_512x512@2x.png"));
    EXPECT_TRUE(workFolders("corvane-icon-").isEmpty());
}

// The sizes are drawn side by side; what they share is worked out before, once, not by each size at once.
TEST_F(IconFilesTest, AnIconFileWorksOutWhatItsSizesShareOnce) {
    test::RecordingProcessRunnerScope runner;
    runner->handle(iconutil, [](const QStringList&) { return QString(); });
    QTemporaryDir dir;

    // A base picture no earlier test has had solved; drawn from a fixed seed, so that every run draws the same.
    QRandomGenerator seeded(77);
    QImage base(512, 512, QImage::Format_ARGB32_Premultiplied);
    base.fill(Qt::transparent);
    QPainter(&base).fillRect(QRect(40, 40, 430, 410 + seeded.bounded(40)), Qt::red);
    const QString basePath = dir.filePath("chrome.png");
    ASSERT_TRUE(base.save(basePath));
    IconRenderer::setChromeIconPathForTesting(basePath);
    const int solves = BadgePlacementSolver::solveCount();
    IcnsWriter::write(IconSpec("square.fill", IconColor::grey(0), StubConfig::SymbolStyle::Auto,
                               StubConfig::IconStyle::Badge),
                      dir.filePath("Badge.icns"));
    IconRenderer::setChromeIconPathForTesting(std::nullopt);
    EXPECT_EQ(BadgePlacementSolver::solveCount(), solves + 1);

    // The ring's symbol at each of the three weights its sizes draw it with.
    SymbolInk::forgetAll();
    const int measurements = SymbolInk::measureCount();
    IcnsWriter::write(ringSpec(), dir.filePath("Ring.icns"));
    EXPECT_EQ(SymbolInk::measureCount(), measurements + 3);
}

TEST_F(IconFilesTest, WritesARealIcnsIntoAFolderStillToBeMade) {
    QTemporaryDir dir;
    const QString icns = dir.filePath("not/yet/AppIcon.icns");
    IcnsWriter::write(ringSpec(), icns);
    const QImage image(icns);
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.width(), image.height());
    EXPECT_TRUE(workFolders("corvane-icon-").isEmpty());
}

TEST_F(IconFilesTest, FailuresLeaveNoWorkFolder) {
    IconRenderer::setChromeIconPathForTesting(QString());
    QTemporaryDir dir;
    const IconSpec badge("square.fill", IconColor::grey(0), StubConfig::SymbolStyle::Auto,
                         StubConfig::IconStyle::Badge);
    EXPECT_THROW(IcnsWriter::write(badge, dir.filePath("AppIcon.icns")), RenderError);
    IconRenderer::setChromeIconPathForTesting(std::nullopt);
    EXPECT_TRUE(workFolders("corvane-icon-").isEmpty());

    test::RecordingProcessRunnerScope runner;
    runner->exitWith(iconutil, 1, "iconutil: broken");
    try {
        IcnsWriter::write(ringSpec(), dir.filePath("AppIcon.icns"));
        FAIL() << "the tool's failure was not reported";
    } catch (const host::SystemError& error) {
        EXPECT_EQ(error.code(), 1);
    }
    EXPECT_TRUE(workFolders("corvane-icon-").isEmpty());
    EXPECT_FALSE(QFile::exists(dir.filePath("AppIcon.icns")));
}

TEST_F(IconFilesTest, IconPackageHoldsFullBleedArtworkAndTheFixedDescription) {
    QTemporaryDir dir;
    const QString package = dir.filePath("AppIcon.icon");
    IconPackageWriter::write(ringSpec(), package);
    const QImage artwork(package + "/Assets/artwork.png");
    EXPECT_EQ(artwork.size(), QSize(1024, 1024));
    EXPECT_EQ(test::contents(package + "/icon.json"), IconPackageWriter::iconJson());
    EXPECT_TRUE(IconPackageWriter::iconJson().endsWith("}\n"));
    EXPECT_TRUE(IconPackageWriter::iconJson().contains(
        "  \"fill\" : { \"solid\" : \"extended-srgb:1.00000,1.00000,1.00000,1.00000\" },\n"));

    // An earlier package is replaced, stray files of it included.
    test::writeFile(package + "/stray", "x", QDateTime::currentDateTimeUtc());
    IconPackageWriter::write(ringSpec(), package);
    EXPECT_FALSE(QFile::exists(package + "/stray"));
}

TEST_F(IconFilesTest, IconPackageReplacesOnlyAPackageOrAPlainFile) {
    QTemporaryDir dir;
    test::writeFile(dir.filePath("plain"), "old", QDateTime::currentDateTimeUtc());
    IconPackageWriter::write(ringSpec(), dir.filePath("plain"));
    EXPECT_TRUE(QFile::exists(dir.filePath("plain/icon.json")));

    // Someone's folder is not ours to delete.
    test::writeFile(dir.filePath("Documents/letter.txt"), "keep me", QDateTime::currentDateTimeUtc());
    EXPECT_THROW(IconPackageWriter::write(ringSpec(), dir.filePath("Documents")), host::Error);
    EXPECT_EQ(test::contents(dir.filePath("Documents/letter.txt")), "keep me");
    EXPECT_FALSE(QFile::exists(dir.filePath("Documents/icon.json")));
}

TEST(DMGBackground, LayoutAndPicture) {
    EXPECT_EQ(DMGLayout::shellVariables(), "DMG_WIN_W=640\nDMG_WIN_H=400\nDMG_ICON_SIZE=128\nDMG_APP_X=170\n"
                                           "DMG_APP_Y=155\nDMG_LINK_X=470\nDMG_LINK_Y=155");
    const QImage picture = DMGBackground::render("Install Corvane");
    EXPECT_EQ(picture.size(), QSize(1280, 800));
    EXPECT_EQ(picture.deviceIndependentSize(), QSizeF(640, 400));
    // Gradient from the top colour to the bottom one.
    const QColor top = picture.pixelColor(4, 0), bottom = picture.pixelColor(4, 799);
    EXPECT_NEAR(top.blueF(), 0.988, 0.01);
    EXPECT_NEAR(bottom.redF(), 0.918, 0.01);
    // The arrow's shaft at 143 points down (the icon centre 155 less 12), from x 264 to 354.
    const QColor arrow = picture.pixelColor(2 * 300, 2 * 143);
    EXPECT_NEAR(arrow.redF(), 0.639, 0.01);
    EXPECT_NEAR(arrow.blueF(), 0.729, 0.01);
    EXPECT_NE(picture.pixelColor(2 * 300, 2 * 150), arrow);
    // A lower centre moves the arrow down.
    EXPECT_EQ(DMGBackground::render("x", 255).pixelColor(2 * 300, 2 * 243), arrow);

    QTemporaryDir dir;
    DMGBackground::write("Install Corvane", std::nullopt, dir.filePath("background.png"));
    EXPECT_EQ(QImage(dir.filePath("background.png")).size(), QSize(1280, 800));
}

} // namespace
