// Texts that the JSON coder must carry unchanged through writing and reading.

#include "CorvaneCore/Foundation/JSONCoding.h"

#include <QJsonValue>
#include <gtest/gtest.h>

namespace {

// Qt's reader drops a U+FEFF written raw at the start of a string, so a name or a link that begins with one
// (pasted from a document) would change on its way through a file or the socket.
TEST(JSONCoding, AByteOrderMarkCharacterInATextIsWrittenEscapedAndReadBack) {
    const QString mark(QChar(0xFEFF));
    EXPECT_EQ(JSONEncoder().encode(QJsonValue(mark + QStringLiteral("Work"))), "\"\\ufeffWork\"");
    for (const QString& text : {mark + QStringLiteral("Work"),
                                QStringLiteral("a") + mark + QStringLiteral("é"), mark + mark, mark}) {
        EXPECT_EQ(JSONDecoder().decode(JSONEncoder().encode(QJsonValue(text))).toString(), text);
        EXPECT_EQ(JSONDecoder::corvane().decode(JSONEncoder::corvane().encode(QJsonValue(text))).toString(),
                  text);
    }
}

} // namespace
