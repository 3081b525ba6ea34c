// Property lists written by other programs: a damaged one is refused, and reading it never stops the program.

#include "CorvaneHost/PropertyList.h"

#include <gtest/gtest.h>

namespace {

QByteArray xmlDictionary(const QByteArray& key, const QByteArray& string) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<plist version=\"1.0\"><dict><key>" + key +
           "</key><string>" + string + "</string></dict></plist>";
}

TEST(PropertyList, AListWithANulCharacterInAKeyOrAStringIsRefused) {
    // {"é\0b": "x"} in binary form, the key written in UTF-16; and the same without the NUL.
    const QByteArray nulInKey =
        QByteArray::fromHex("62706c6973743030d101026300e9000000625178080b12000000000000010100"
                            "0000000000000300000000000000000000000000000014");
    const QByteArray plainKey =
        QByteArray::fromHex("62706c6973743030d101026200e900625178080b1000000000000001010000"
                            "00000000000300000000000000000000000000000012");
    EXPECT_FALSE(host::parsePropertyList(nulInKey));
    EXPECT_EQ(host::parsePropertyList(plainKey),
              QVariant(QVariantMap{{QStringLiteral("éb"), QStringLiteral("x")}}));

    const QByteArray nul(1, '\0');
    EXPECT_FALSE(host::parsePropertyList(xmlDictionary("CFBundleName", "Wo" + nul + "rk")));
    EXPECT_EQ(host::parsePropertyList(xmlDictionary("CFBundleName", "Work")),
              QVariant(QVariantMap{{QStringLiteral("CFBundleName"), QStringLiteral("Work")}}));
}

} // namespace
