#include "Corvane/Models/SigningIdentity.h"

#include "CorvaneCore/Integration/HelperInstaller.h"

#include <QStringList>

namespace SigningIdentity {

namespace {

const QString adHoc = QStringLiteral("-");
constexpr qsizetype hashLength = 40;

const QStringList& preferredKinds() {
    static const QStringList kinds{QStringLiteral("Developer ID Application"),
                                   QStringLiteral("Apple Development")};
    return kinds;
}

} // namespace

QString fromListing(const QString& output) {
    const QStringList lines = output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (const QString& kind : preferredKinds()) {
        for (const QString& line : lines) {
            if (!line.contains(kind))
                continue;
            const QStringList pieces = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
            if (pieces.size() >= 2 && pieces[1].size() == hashLength)
                return pieces[1];
        }
    }
    return adHoc;
}

QString preferred() {
    try {
        return fromListing(HelperInstaller::run(QStringLiteral("/usr/bin/security"),
                                                {QStringLiteral("find-identity"), QStringLiteral("-v"),
                                                 QStringLiteral("-p"), QStringLiteral("codesigning")}));
    } catch (const std::exception&) {
        return adHoc;
    }
}

} // namespace SigningIdentity
