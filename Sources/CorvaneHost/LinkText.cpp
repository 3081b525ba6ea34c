#include "CorvaneHost/LinkText.h"

#include "CorvaneHost/AppleEvent.h"

namespace host {
namespace {

bool isHexDigit(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

// A registered name of RFC 3986 with at least one escape: unreserved characters, sub-delimiters and
// percent-escapes, each escape "%" and two hexadecimal digits.
bool isEscapedRegisteredName(QStringView host) {
    static const QString allowed = QStringLiteral("-._~!$&'()*+,;=");
    bool escaped = false;
    for (qsizetype i = 0; i < host.size(); ++i) {
        const QChar c = host[i];
        if (c == QLatin1Char('%')) {
            if (i + 2 >= host.size() || !isHexDigit(host[i + 1]) || !isHexDigit(host[i + 2]))
                return false;
            escaped = true;
            i += 2;
        } else if (c.unicode() >= 0x80 || !(c.isLetterOrNumber() || allowed.contains(c))) {
            return false;
        }
    }
    return escaped;
}

// Just past "scheme://" (a letter, then letters, digits, "+", "." or "-"); -1 without one.
qsizetype authorityStartOf(const QString& text) {
    const auto isAsciiLetter = [](QChar c) {
        return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
               (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
    };
    if (text.isEmpty() || !isAsciiLetter(text[0]))
        return -1;
    qsizetype i = 1;
    while (i < text.size() &&
           (isAsciiLetter(text[i]) || (text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) ||
            text[i] == QLatin1Char('+') || text[i] == QLatin1Char('.') || text[i] == QLatin1Char('-')))
        ++i;
    return QStringView(text).sliced(i).startsWith(QLatin1String("://")) ? i + 3 : -1;
}

} // namespace

std::optional<std::pair<qsizetype, qsizetype>> writtenHostRange(const QString& text) {
    const qsizetype authorityStart = authorityStartOf(text);
    if (authorityStart < 0)
        return std::nullopt;
    qsizetype authorityEnd = text.size();
    for (const QChar stop : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = text.indexOf(stop, authorityStart);
        if (at >= 0 && at < authorityEnd)
            authorityEnd = at;
    }
    const QStringView authority = QStringView(text).mid(authorityStart, authorityEnd - authorityStart);
    const qsizetype userEnd = authority.lastIndexOf(QLatin1Char('@'));
    const qsizetype hostStart = authorityStart + (userEnd >= 0 ? userEnd + 1 : 0);
    qsizetype hostEnd = authorityEnd;
    if (hostStart < authorityEnd && text.at(hostStart) == QLatin1Char('[')) {
        const qsizetype close = text.indexOf(QLatin1Char(']'), hostStart);
        if (close >= 0 && close < authorityEnd)
            hostEnd = close + 1;
    } else {
        const qsizetype colon = text.indexOf(QLatin1Char(':'), hostStart);
        if (colon >= 0 && colon < authorityEnd)
            hostEnd = colon;
    }
    if (hostEnd <= hostStart)
        return std::nullopt;
    return std::pair{hostStart, hostEnd};
}

std::optional<QString> writtenHost(const QString& link) {
    const auto range = writtenHostRange(link);
    if (!range)
        return std::nullopt;
    return link.mid(range->first, range->second - range->first);
}

std::optional<QUrl> parseLink(const QString& text) {
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) {
        // Strict mode refuses escapes in a host name. Such a link is taken when its host is a well-formed
        // escaped name and the rest of it passes the strict test on its own.
        const auto range = writtenHostRange(text);
        if (!range ||
            !isEscapedRegisteredName(QStringView(text).sliced(range->first, range->second - range->first)))
            return std::nullopt;
        QString plainHost = text;
        plainHost.replace(range->first, range->second - range->first, QStringLiteral("host.invalid"));
        if (!QUrl(plainHost, QUrl::StrictMode).isValid())
            return std::nullopt;
        url = QUrl(text, QUrl::TolerantMode);
    }
    if (!isUsableLink(url))
        return std::nullopt;
    return url;
}

} // namespace host
