#include "CorvaneHost/Bookmark.h"
#include "CorvaneHost/Bundle.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

void touch(const QString& path) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
}

// Makes an empty file at `path` and bookmarks it.
std::optional<QByteArray> bookmarkOfNewFile(const QString& path) {
    touch(path);
    return host::Bookmark::create(path);
}

ino_t inodeOf(const QString& path) {
    struct stat info {};
    return ::stat(QFile::encodeName(path).constData(), &info) == 0 ? info.st_ino : 0;
}

TEST(Bookmark, ResolvesWhileThePathHoldsTheSameFile) {
    test::TemporaryHome home;
    const QString app = home.file("Applications/Work.app");
    QDir().mkpath(app);
    const auto bookmark = host::Bookmark::create(app);
    ASSERT_TRUE(bookmark.has_value());
    EXPECT_EQ(host::Bookmark::resolve(*bookmark), app);
    // A relative or untidy path is recorded as the clean absolute one.
    QDir::setCurrent(home.path());
    EXPECT_EQ(host::Bookmark::resolve(*host::Bookmark::create("Applications/./Work.app")), app);
}

TEST(Bookmark, AMovedFileIsFoundByItsIdentityNearbyAndMarkedStale) {
    test::TemporaryHome home;
    const QString app = home.file("Applications/Work.app");
    QDir().mkpath(app);
    const auto bookmark = host::Bookmark::create(app);
    ASSERT_TRUE(bookmark.has_value());
    bool stale = true;
    EXPECT_EQ(host::Bookmark::resolve(*bookmark, &stale), app);
    EXPECT_FALSE(stale);

    // Renamed in its folder, then another file put in its old place: the path holds another file.
    ASSERT_TRUE(QDir().rename(app, home.file("Applications/Work 2.app")));
    QDir().mkpath(app);
    EXPECT_EQ(host::Bookmark::resolve(*bookmark, &stale), home.file("Applications/Work 2.app"));
    EXPECT_TRUE(stale);

    // Moved out of every application folder, somewhere in the home folder.
    QDir().mkpath(home.file("Projects/Client"));
    ASSERT_TRUE(QDir().rename(home.file("Applications/Work 2.app"), home.file("Projects/Client/Work.app")));
    EXPECT_EQ(host::Bookmark::resolve(*bookmark, &stale), home.file("Projects/Client/Work.app"));
    EXPECT_TRUE(stale);

    // Into an application folder named by the environment, three levels down.
    QDir().mkpath(home.file("Applications/a/b"));
    ASSERT_TRUE(QDir().rename(home.file("Projects/Client/Work.app"), home.file("Applications/a/b/Work.app")));
    EXPECT_EQ(host::Bookmark::resolve(*bookmark), home.file("Applications/a/b/Work.app"));

    // Deeper than the search goes: not found.
    QDir().mkpath(home.file("x/y/z"));
    ASSERT_TRUE(QDir().rename(home.file("Applications/a/b/Work.app"), home.file("x/y/z/Work.app")));
    EXPECT_EQ(host::Bookmark::resolve(*bookmark, &stale), std::nullopt);
    EXPECT_FALSE(stale);
}

TEST(Bookmark, ARemovedFileDoesNotResolve) {
    test::TemporaryHome home;
    const QString file = home.file("a.txt");
    const auto bookmark = bookmarkOfNewFile(file);
    ASSERT_TRUE(bookmark.has_value());
    // Another file put in its place (made before the old one goes, so it cannot reuse its identity).
    touch(home.file("c.txt"));
    ASSERT_EQ(
        ::rename(QFile::encodeName(home.file("c.txt")).constData(), QFile::encodeName(file).constData()), 0);
    EXPECT_EQ(host::Bookmark::resolve(*bookmark), std::nullopt);
}

// A file removed while another is made: the file system soon gives the freed inode to a new file (made here
// until one takes it, in the folder the search looks in), which is another file all the same.
TEST(Bookmark, ANewFileGivenTheRemovedOnesInodeIsAnotherFile) {
    test::TemporaryHome home;
    const QString file = home.file("a.txt");
    const auto bookmark = bookmarkOfNewFile(file);
    ASSERT_TRUE(bookmark.has_value());
    const ino_t removed = inodeOf(file);
    ASSERT_TRUE(QFile::remove(file));
    touch(file);
    for (int made = 0; made < 1000 && inodeOf(file) != removed; ++made)
        touch(home.file(QStringLiteral("new-%1.txt").arg(made)));
    EXPECT_EQ(host::Bookmark::resolve(*bookmark), std::nullopt);
}

// The same, made sure of: a bookmark whose file has the recorded device and inode but another birth time.
TEST(Bookmark, AFileBornAtAnotherTimeIsAnotherFileWhateverItsInode) {
    test::TemporaryHome home;
    const QString file = home.file("a.txt");
    const auto bookmark = bookmarkOfNewFile(file);
    ASSERT_TRUE(bookmark.has_value());
    QJsonObject fields = QJsonDocument::fromJson(*bookmark).object();
    ASSERT_TRUE(fields.contains("birth")) << "the temporary folder's file system keeps no birth times";
    EXPECT_EQ(host::Bookmark::resolve(*bookmark), file);
    fields.insert("birth", QString::number(fields.value("birth").toString().toLongLong() + 1));
    EXPECT_EQ(host::Bookmark::resolve(QJsonDocument(fields).toJson()), std::nullopt);
    // A bookmark made before birth times were recorded goes by device and inode.
    fields.remove("birth");
    EXPECT_EQ(host::Bookmark::resolve(QJsonDocument(fields).toJson()), file);
}

// Born within the same tick of the file system's clock, a new file given the inode has the same birth time:
// the inode's generation and the file's kind still tell it apart.
TEST(Bookmark, AFileOfAnotherGenerationOrKindIsAnotherFile) {
    test::TemporaryHome home;
    const QString file = home.file("a.txt");
    const auto bookmark = bookmarkOfNewFile(file);
    ASSERT_TRUE(bookmark.has_value());
    const QJsonObject fields = QJsonDocument::fromJson(*bookmark).object();
    ASSERT_TRUE(fields.contains("generation")) << "the temporary folder's file system tells no generations";
    for (const char* key : {"generation", "kind"}) {
        QJsonObject changed = fields;
        changed.insert(key, QString::number(fields.value(key).toString().toLongLong() ^ 0x4000));
        EXPECT_EQ(host::Bookmark::resolve(QJsonDocument(changed).toJson()), std::nullopt) << key;
    }
    // Bookmarks made before they were recorded go by what they hold.
    QJsonObject older = fields;
    older.remove("generation");
    older.remove("kind");
    EXPECT_EQ(host::Bookmark::resolve(QJsonDocument(older).toJson()), file);
    // A value that is no number of its kind is no bookmark.
    older.insert("generation", "-1");
    EXPECT_EQ(host::Bookmark::resolve(QJsonDocument(older).toJson()), std::nullopt);
}

TEST(Bookmark, NothingThereOrForeignBytesGiveNone) {
    test::TemporaryHome home;
    EXPECT_EQ(host::Bookmark::create(home.file("missing")), std::nullopt);
    EXPECT_EQ(host::Bookmark::create(""), std::nullopt);
    for (const QByteArray& bytes :
         {QByteArray(), QByteArray("stale"), QByteArray("{\"path\":\"/\"}"),
          QByteArray("{\"format\":\"corvane-bookmark\",\"version\":1,\"path\":\"/\","
                     "\"device\":\"x\",\"inode\":\"1\"}")})
        EXPECT_EQ(host::Bookmark::resolve(bytes), std::nullopt) << bytes.constData();
}

TEST(Bundle, ReadsItsInfoOnceAndFindsResources) {
    test::TemporaryHome home;
    const QString app = home.file("Stub.app");
    QDir().mkpath(app + "/Contents/Resources");
    const host::Bundle empty(app);
    EXPECT_EQ(empty.infoDictionary(), std::nullopt);
    EXPECT_EQ(empty.pathForResource("config", "json"), std::nullopt);
    touch(app + "/Contents/Resources/config.json");
    EXPECT_EQ(empty.pathForResource("config", "json"), app + "/Contents/Resources/config.json");
    EXPECT_EQ(empty.bundlePath(), app);
}

} // namespace
