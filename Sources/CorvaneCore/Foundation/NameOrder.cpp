#include "CorvaneCore/Foundation/NameOrder.h"

#include <QCollator>
#include <QLocale>

namespace NameOrder {
namespace {

// The user's collation; the bare "C" locale has no collation rules, so it gives way to a real one.
const QCollator& collator() {
    thread_local const QCollator instance = [] {
        QLocale locale;
        if (locale.language() == QLocale::C)
            locale = QLocale(QLocale::English, QLocale::UnitedStates);
        QCollator collator(locale);
        collator.setCaseSensitivity(Qt::CaseInsensitive);
        return collator;
    }();
    return instance;
}

int sign(int value) {
    return (value > 0) - (value < 0);
}

// The end of the character that starts at `i`: one code point and the marks that follow it.
qsizetype characterEnd(const QString& text, qsizetype i) {
    qsizetype end = i + (text[i].isHighSurrogate() && i + 1 < text.size() ? 2 : 1);
    while (end < text.size() && text[end].isMark())
        ++end;
    return end;
}

qsizetype digitRunEnd(const QString& text, qsizetype i) {
    while (i < text.size() && text[i].isDigit())
        ++i;
    return i;
}

// Two runs of digits by their value.
int compareNumbers(QStringView a, QStringView b) {
    const auto significant = [](QStringView digits) {
        qsizetype first = 0;
        while (first + 1 < digits.size() && digits[first].digitValue() == 0)
            ++first;
        return digits.sliced(first);
    };
    const QStringView x = significant(a);
    const QStringView y = significant(b);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    for (qsizetype i = 0; i < x.size(); ++i)
        if (x[i].digitValue() != y[i].digitValue())
            return x[i].digitValue() < y[i].digitValue() ? -1 : 1;
    return 0;
}

// The letter without its accents and case: what decides the order before accents do.
QString baseLetter(QStringView character) {
    QString letter = character.toString().normalized(QString::NormalizationForm_D);
    letter.removeIf([](QChar c) { return c.isMark(); });
    return letter.toCaseFolded();
}

// One walk over both names, character by character, with runs of digits compared by value. With `basesOnly`
// accents play no part, so they only decide between names that are otherwise alike.
int compareWalking(const QString& a, const QString& b, bool basesOnly) {
    qsizetype i = 0;
    qsizetype j = 0;
    while (i < a.size() && j < b.size()) {
        if (a[i].isDigit() && b[j].isDigit()) {
            const qsizetype endA = digitRunEnd(a, i);
            const qsizetype endB = digitRunEnd(b, j);
            if (const int order =
                    compareNumbers(QStringView(a).sliced(i, endA - i), QStringView(b).sliced(j, endB - j)))
                return order;
            i = endA;
            j = endB;
            continue;
        }
        const qsizetype endA = characterEnd(a, i);
        const qsizetype endB = characterEnd(b, j);
        const QStringView x = QStringView(a).sliced(i, endA - i);
        const QStringView y = QStringView(b).sliced(j, endB - j);
        const int order = basesOnly
                              ? collator().compare(baseLetter(x), baseLetter(y))
                              : collator().compare(x.toString().toCaseFolded(), y.toString().toCaseFolded());
        if (order != 0)
            return sign(order);
        i = endA;
        j = endB;
    }
    if (i < a.size())
        return 1;
    if (j < b.size())
        return -1;
    return 0;
}

} // namespace

int compare(const QString& a, const QString& b) {
    if (const int order = compareWalking(a, b, true))
        return order;
    return compareWalking(a, b, false);
}

} // namespace NameOrder
