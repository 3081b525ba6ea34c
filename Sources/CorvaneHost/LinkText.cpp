#include "CorvaneHost/LinkText.h"

#include "CorvaneHost/AppleEvent.h"

namespace host {
namespace {

bool isHexDigit(QChar c) {
    return (c >= QLatin1Char('0') && c <= QLatin1Char('9')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('f')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('F'));
}

bool isAsciiLetter(QChar c) {
    return (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z'));
}

// Whether a percent-escape ("%" and two hexadecimal digits) starts at `at`.
bool startsEscape(QStringView text, qsizetype at) {
    return at + 2 < text.size() && text[at] == QLatin1Char('%') && isHexDigit(text[at + 1]) &&
           isHexDigit(text[at + 2]);
}

// A registered name of RFC 3986 with at least one escape: unreserved characters, sub-delimiters and
// percent-escapes, each escape "%" and two hexadecimal digits.
bool isEscapedRegisteredName(QStringView host) {
    static const QString allowed = QStringLiteral("-._~!$&'()*+,;=");
    bool escaped = false;
    for (qsizetype i = 0; i < host.size(); ++i) {
        const QChar c = host[i];
        if (c == QLatin1Char('%')) {
            if (!startsEscape(host, i))
                return false;
            escaped = true;
            i += 2;
        } else if (c.unicode() >= 0x80 || !(c.isLetterOrNumber() || allowed.contains(c))) {
            return false;
        }
    }
    return escaped;
}

// Where the ":" that ends the scheme stands (a letter, then letters, digits, "+", "." or "-"); -1 without
// one.
qsizetype schemeEndOf(QStringView text) {
    if (text.isEmpty() || !isAsciiLetter(text[0]))
        return -1;
    qsizetype i = 1;
    while (i < text.size() &&
           (isAsciiLetter(text[i]) || (text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9')) ||
            text[i] == QLatin1Char('+') || text[i] == QLatin1Char('.') || text[i] == QLatin1Char('-')))
        ++i;
    return i < text.size() && text[i] == QLatin1Char(':') ? i : -1;
}

// The schemes whose links a browser reads with a host always: it finds one even where no "//" is written.
bool isWebScheme(QStringView scheme) {
    for (const char* web : {"http", "https", "ws", "wss", "ftp"})
        if (scheme.compare(QLatin1String(web), Qt::CaseInsensitive) == 0)
            return true;
    return false;
}

// The authority of a link written "scheme://...", as indices into its text: it runs from `start` to `end`,
// the host within it from `hostStart` to `hostEnd` (equal when no host is written).
struct Authority {
    qsizetype start = 0;
    qsizetype hostStart = 0;
    qsizetype hostEnd = 0;
    qsizetype end = 0;
};

std::optional<Authority> authorityOf(const QString& text) {
    const qsizetype schemeEnd = schemeEndOf(text);
    if (schemeEnd < 0 || !QStringView(text).sliced(schemeEnd).startsWith(QLatin1String("://")))
        return std::nullopt;
    Authority authority;
    authority.start = schemeEnd + 3;
    authority.end = text.size();
    for (const QChar stop : {QLatin1Char('/'), QLatin1Char('?'), QLatin1Char('#')}) {
        const qsizetype at = text.indexOf(stop, authority.start);
        if (at >= 0 && at < authority.end)
            authority.end = at;
    }
    const QStringView written = QStringView(text).mid(authority.start, authority.end - authority.start);
    const qsizetype userEnd = written.lastIndexOf(QLatin1Char('@'));
    authority.hostStart = authority.start + (userEnd >= 0 ? userEnd + 1 : 0);
    authority.hostEnd = authority.end;
    if (authority.hostStart < authority.end && text.at(authority.hostStart) == QLatin1Char('[')) {
        const qsizetype close = text.indexOf(QLatin1Char(']'), authority.hostStart);
        if (close >= 0 && close < authority.end)
            authority.hostEnd = close + 1;
    } else {
        const qsizetype colon = text.indexOf(QLatin1Char(':'), authority.hostStart);
        if (colon >= 0 && colon < authority.end)
            authority.hostEnd = colon;
    }
    if (authority.hostEnd < authority.hostStart)
        authority.hostEnd = authority.hostStart;
    return authority;
}

// `part` with what a browser percent-encodes there written as escapes: `"<>`{}|^`, text beyond ASCII (as
// its UTF-8 bytes) and a "%" that starts no escape.
QString escapedAsBrowsersDo(QStringView part) {
    static const QString raw = QStringLiteral("\"<>`{}|^");
    static const char hex[] = "0123456789ABCDEF";
    QString escaped;
    escaped.reserve(part.size() + 16);
    const auto escapeBytes = [&](const QByteArray& bytes) {
        for (const char byte : bytes) {
            const auto value = static_cast<unsigned char>(byte);
            escaped.append(QLatin1Char('%'));
            escaped.append(QLatin1Char(hex[value >> 4]));
            escaped.append(QLatin1Char(hex[value & 0xf]));
        }
    };
    for (qsizetype i = 0; i < part.size(); ++i) {
        const QChar c = part[i];
        if (c == QLatin1Char('%')) {
            escaped.append(startsEscape(part, i) ? QStringLiteral("%") : QStringLiteral("%25"));
        } else if (c.unicode() >= 0x80) {
            qsizetype end = i + 1;
            while (end < part.size() && part[end].unicode() >= 0x80)
                ++end;
            escapeBytes(part.sliced(i, end - i).toUtf8());
            i = end - 1;
        } else if (raw.contains(c)) {
            escapeBytes(QByteArray(1, char(c.unicode())));
        } else {
            escaped.append(c);
        }
    }
    return escaped;
}

// The link's text with every part but the scheme, the host and the port escaped as a browser escapes it,
// and its host written as `host`.
QString escapedOutsideTheHost(const QString& text, qsizetype schemeEnd,
                              const std::optional<Authority>& authority, QStringView host) {
    const QStringView written(text);
    QString escaped;
    if (!authority) {
        escaped.append(written.first(schemeEnd + 1));
        escaped.append(escapedAsBrowsersDo(written.sliced(schemeEnd + 1)));
        return escaped;
    }
    escaped.append(written.first(authority->start));
    escaped.append(
        escapedAsBrowsersDo(written.sliced(authority->start, authority->hostStart - authority->start)));
    escaped.append(host);
    escaped.append(written.sliced(authority->hostEnd, authority->end - authority->hostEnd));
    escaped.append(escapedAsBrowsersDo(written.sliced(authority->end)));
    return escaped;
}

} // namespace

std::optional<std::pair<qsizetype, qsizetype>> writtenHostRange(const QString& text) {
    const auto authority = authorityOf(text);
    if (!authority || authority->hostEnd <= authority->hostStart)
        return std::nullopt;
    return std::pair{authority->hostStart, authority->hostEnd};
}

std::optional<QString> writtenHost(const QString& link) {
    const auto range = writtenHostRange(link);
    if (!range)
        return std::nullopt;
    return link.mid(range->first, range->second - range->first);
}

std::optional<QUrl> parseLink(const QString& text) {
    const qsizetype schemeEnd = schemeEndOf(text);
    if (schemeEnd < 0)
        return std::nullopt;
    const auto authority = authorityOf(text);
    const bool hasHost = authority && authority->hostEnd > authority->hostStart;
    if (!hasHost && isWebScheme(QStringView(text).first(schemeEnd)))
        return std::nullopt;
    QUrl url(text, QUrl::StrictMode);
    if (!url.isValid()) {
        const QStringView host = hasHost ? QStringView(text).sliced(authority->hostStart,
                                                                    authority->hostEnd - authority->hostStart)
                                         : QStringView();
        const QString escaped = escapedOutsideTheHost(text, schemeEnd, authority, host);
        url = QUrl(escaped, QUrl::StrictMode);
        if (!url.isValid()) {
            // Strict mode refuses escapes in a host name. Such a link is taken when its host is a well-formed
            // escaped name and the rest of it passes the strict test on its own.
            if (!hasHost || !isEscapedRegisteredName(host) ||
                !QUrl(escapedOutsideTheHost(text, schemeEnd, authority, u"host.invalid"), QUrl::StrictMode)
                     .isValid())
                return std::nullopt;
            url = QUrl(escaped, QUrl::TolerantMode);
        }
    }
    if (!isUsableLink(url))
        return std::nullopt;
    return url;
}

QStringList linkTexts(const QList<QUrl>& urls, const QStringList& writtenLinks) {
    QStringList texts;
    texts.reserve(urls.size());
    qsizetype link = 0;
    for (const QUrl& url : urls) {
        if (url.isLocalFile()) {
            texts.append(url.toString(QUrl::FullyEncoded));
            continue;
        }
        const bool written = link < writtenLinks.size() && parseLink(writtenLinks[link]).has_value();
        texts.append(written ? writtenLinks[link] : url.toString(QUrl::FullyEncoded));
        ++link;
    }
    return texts;
}

} // namespace host
