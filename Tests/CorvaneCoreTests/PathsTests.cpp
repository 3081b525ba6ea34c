#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTimeZone>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

mode_t permissionsOf(const QString& path) {
    struct stat info {};
    ::stat(QFile::encodeName(path).constData(), &info);
    return info.st_mode & 0777;
}

TEST(Paths, FilesLieInTheSupportFolderUnderHome) {
    test::TemporaryHome home;
    const QString support = home.path() + "/Library/Application Support/Corvane";
    EXPECT_EQ(Corvane::supportDirectory(), support);
    EXPECT_EQ(Corvane::rulesURL(), support + "/rules.json");
    EXPECT_EQ(Corvane::settingsURL(), support + "/settings.json");
    EXPECT_EQ(Corvane::registryURL(), support + "/registry.json");
    EXPECT_EQ(Corvane::recentLinksURL(), support + "/recent-links.json");
    EXPECT_EQ(Corvane::lockURL(), support + "/h.lock");
    EXPECT_EQ(Corvane::installedHelperURL(), support + "/CorvaneHelper.app");
}

TEST(Paths, SocketMovesToThePrivateTemporaryFolderAt100Bytes) {
    test::TemporaryHome home;
    const QString suffix = "/Library/Application Support/Corvane/h.sock";
    // Pad the home so that the socket path is exactly 99, then 100 bytes; "é" counts two bytes.
    for (const int target : {99, 100}) {
        const QString base = home.path() + "/";
        int pad = target - int((base + suffix).toUtf8().size());
        ASSERT_GT(pad, 2);
        QString name = QString(pad % 2, 'x') + QString(pad / 2, QChar(0xE9));
        qputenv("HOME", QFile::encodeName(base + name));
        ASSERT_EQ(Corvane::supportDirectory().toUtf8().size() + 7, target);
        if (target == 99)
            EXPECT_EQ(Corvane::socketPath(), base + name + suffix);
        else
            EXPECT_EQ(Corvane::socketPath(), home.path() + "/run/corvane-h.sock");
    }
}

// A long home and a long runtime folder: the socket still gets a path that a socket address holds, one of
// its own for each home, which the helper and its clients both compute.
TEST(Paths, SocketFitsUnderALongHomeAndALongRuntimeFolder) {
    test::TemporaryHome home;
    const QString runtime = home.path() + "/run/" + QString(100, 'r');
    ASSERT_TRUE(QDir().mkpath(runtime));
    QFile::setPermissions(runtime, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(runtime));
    qputenv("HOME", QFile::encodeName(home.path() + "/" + QString(100, 'h')));
    const QString first = Corvane::socketPath();
    EXPECT_LT(first.toUtf8().size(), 100) << first.toStdString();
    EXPECT_EQ(Corvane::socketPath(), first);
    qputenv("HOME", QFile::encodeName(home.path() + "/" + QString(101, 'h')));
    EXPECT_NE(Corvane::socketPath(), first);
}

TEST(Paths, EnsureSupportDirectoryCreatesOwnerOnlyAndKeepsExisting) {
    test::TemporaryHome home;
    Corvane::ensureSupportDirectory();
    EXPECT_EQ(permissionsOf(Corvane::supportDirectory()), 0700u);
    ::chmod(QFile::encodeName(Corvane::supportDirectory()).constData(), 0755);
    Corvane::ensureSupportDirectory();
    EXPECT_EQ(permissionsOf(Corvane::supportDirectory()), 0755u);
}

TEST(Paths, EnsureSupportDirectoryThrowsWhenBlocked) {
    test::TemporaryHome home;
    QDir().mkpath(home.file("Library/Application Support"));
    QFile blocker(home.file("Library/Application Support/Corvane"));
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    EXPECT_THROW(Corvane::ensureSupportDirectory(), host::SystemError);
}

TEST(Paths, IdentityToMigrateFromPrefersTheFirstTableEntry) {
    test::TemporaryHome home;
    EXPECT_FALSE(Corvane::identityToMigrateFrom().has_value());
    QDir().mkpath(home.file("Library/Application Support"));
    QFile plain(home.file("Library/Application Support/Tavrimo"));
    ASSERT_TRUE(plain.open(QIODevice::WriteOnly));
    plain.close();
    ASSERT_TRUE(Corvane::identityToMigrateFrom().has_value());
    EXPECT_EQ(Corvane::identityToMigrateFrom()->supportDirectoryName, "Tavrimo");
    QDir().mkpath(home.file("Library/Application Support/Ombrisk"));
    EXPECT_EQ(Corvane::identityToMigrateFrom()->supportDirectoryName, "Ombrisk");
    EXPECT_EQ(Corvane::identityToMigrateFrom()->helperBundleID(), "org.brellam.ombrisk.helper");
}

TEST(Paths, PreserveUnreadableFileKeepsACopyBeside) {
    test::TemporaryHome home;
    const QString path = home.file("rules.json");
    Corvane::writeFileAtomically(path, "not json");
    Corvane::preserveUnreadableFile(path);
    QFile kept(path + ".unreadable");
    ASSERT_TRUE(kept.open(QIODevice::ReadOnly));
    EXPECT_EQ(kept.readAll(), "not json");
}

TEST(JSONCoding, EncoderWritesPrettySortedEscapedOutput) {
    QJsonObject object{{"b", QJsonArray{1, 2.5}}, {"a", "x/y"}, {"c", QJsonObject{}}, {"d", true}};
    EXPECT_EQ(
        JSONEncoder::corvane().encode(object),
        "{\n  \"a\" : \"x\\/y\",\n  \"b\" : [\n    1,\n    2.5\n  ],\n  \"c\" : {},\n  \"d\" : true\n}");
    EXPECT_EQ(JSONEncoder().encode(object), R"({"a":"x\/y","b":[1,2.5],"c":{},"d":true})");
    JSONEncoder unescaped;
    unescaped.withoutEscapingSlashes = true;
    EXPECT_EQ(unescaped.encode(QJsonValue("a/b")), "\"a/b\"");
    EXPECT_EQ(JSONEncoder().encode(QJsonValue(QString::fromUtf8("é\n\x01"))), "\"\xC3\xA9\\n\\u0001\"");
    // Escapes and non-ASCII text after a plain start, and plain text around them, come out whole.
    EXPECT_EQ(JSONEncoder().encode(QJsonValue(QString::fromUtf8("plain \"q\" \\ é\tend"))),
              "\"plain \\\"q\\\" \\\\ \xC3\xA9\\tend\"");
    EXPECT_EQ(JSONEncoder().encode(QJsonArray{"", "a", QString::fromUtf8("€")}),
              "[\"\",\"a\",\"\xE2\x82\xAC\"]");
}

TEST(JSONCoding, DecoderRejectsMalformedInput) {
    EXPECT_EQ(JSONDecoder::corvane().decode("{\"a\":1}").toObject().value("a").toInt(), 1);
    EXPECT_EQ(JSONDecoder::corvane().decode("3").toInt(), 3);
    EXPECT_THROW(JSONDecoder::corvane().decode("{"), JSONDecodingError);
    EXPECT_THROW(JSONDecoder::corvane().decode("1],[2"), JSONDecodingError);
    EXPECT_THROW(JSONDecoder::corvane().decode(""), JSONDecodingError);
}

TEST(JSONCoding, RawControlCharactersInsideStringsAreRejectedEscapedOnesAccepted) {
    const JSONDecoder decoder = JSONDecoder::corvane();
    for (const char raw : {'\x00', '\x01', '\t', '\n', '\r', '\x1F'}) {
        QByteArray text = "{\"name\":\"a_b\"}";
        text[10] = raw;
        EXPECT_THROW(decoder.decode(text), JSONDecodingError) << int(raw);
    }
    // After an escaped quote the string goes on, so a raw character there is still inside it.
    EXPECT_THROW(decoder.decode(QByteArray("[\"a\\\"\tb\"]")), JSONDecodingError);
    EXPECT_EQ(decoder.decode("[\"a\\\\\",\t\"b\"]").toArray().size(),
              2); // a backslash, then a tab between values
    EXPECT_EQ(decoder.decode("\"a\\tb\\u0001\"").toString(), QString::fromUtf8("a\tb\x01"));
    EXPECT_EQ(decoder.decode("{\n\t\"a\" :\r\n 1\n}").toObject().value("a").toInt(), 1);
}

TEST(JSONCoding, ALeadingByteOrderMarkIsIgnoredAnywhereElseRejected) {
    const JSONDecoder decoder = JSONDecoder::corvane();
    EXPECT_EQ(decoder.decode("\xEF\xBB\xBF{\"a\":1}").toObject().value("a").toInt(), 1);
    EXPECT_THROW(decoder.decode("\xEF\xBB\xBF"), JSONDecodingError);
    EXPECT_THROW(decoder.decode("\xEF\xBB\xBF\xEF\xBB\xBF{}"), JSONDecodingError);
    EXPECT_THROW(decoder.decode("{}\xEF\xBB\xBF"), JSONDecodingError);
}

TEST(JSONCoding, DatesRoundTripWithoutFractionAndHonourOffsets) {
    const QDateTime date(QDate(2026, 3, 4), QTime(5, 6, 7, 890), QTimeZone::utc());
    EXPECT_EQ(JSONDate::encode(date), "2026-03-04T05:06:07Z");
    EXPECT_EQ(JSONDate::decode(JSONDate::encode(date)), date.addMSecs(-890));
    EXPECT_EQ(JSONDate::decode("2026-03-04T06:06:07+01:00"), date.addMSecs(-890));
    EXPECT_FALSE(JSONDate::decode("2026-03-04T05:06:07.5Z").has_value());
    EXPECT_FALSE(JSONDate::decode("2026-13-04T05:06:07Z").has_value());
    EXPECT_FALSE(JSONDate::decode("yesterday").has_value());
    // Anchored at the very end of the text, and only ASCII digits are digits.
    EXPECT_FALSE(JSONDate::decode("2026-03-04T05:06:07Z\n").has_value());
    EXPECT_FALSE(JSONDate::decode("2026-03-04T06:06:07+01:00\n").has_value());
    EXPECT_FALSE(JSONDate::decode(QStringLiteral(u"\u0662026-03-04T05:06:07Z")).has_value());
}

} // namespace
