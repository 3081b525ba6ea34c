#include "CorvaneCore/Foundation/NameOrder.h"

#include <QCollator>
#include <QLocale>
#include <QStringList>

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

// Digits are compared by hand: the collator's numeric mode is not available on every machine (without ICU it
// silently compares digits as text).
QStringList textAndNumberRuns(const QString& text) {
    QStringList runs;
    for (qsizetype i = 0; i < text.size();) {
        const bool digits = text[i].isDigit();
        qsizetype end = i;
        while (end < text.size() && text[end].isDigit() == digits)
            ++end;
        runs.append(text.mid(i, end - i));
        i = end;
    }
    return runs;
}

int compareNumbers(const QString& a, const QString& b) {
    const auto significant = [](const QString& digits) {
        qsizetype first = 0;
        while (first + 1 < digits.size() && digits[first].digitValue() == 0)
            ++first;
        return digits.mid(first);
    };
    const QString x = significant(a);
    const QString y = significant(b);
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    for (qsizetype i = 0; i < x.size(); ++i)
        if (x[i].digitValue() != y[i].digitValue())
            return x[i].digitValue() < y[i].digitValue() ? -1 : 1;
    return 0;
}

} // namespace

int compare(const QString& a, const QString& b) {
    const QStringList x = textAndNumberRuns(a);
    const QStringList y = textAndNumberRuns(b);
    for (qsizetype i = 0; i < std::min(x.size(), y.size()); ++i) {
        const bool xDigits = x[i][0].isDigit();
        const bool yDigits = y[i][0].isDigit();
        const int order = xDigits && yDigits ? compareNumbers(x[i], y[i])
                                             : collator().compare(x[i].toCaseFolded(), y[i].toCaseFolded());
        if (order != 0)
            return order;
    }
    if (x.size() != y.size())
        return x.size() < y.size() ? -1 : 1;
    return 0;
}

} // namespace NameOrder
