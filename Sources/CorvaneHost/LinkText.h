#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>
#include <utility>

namespace host {

// Where the host stands in a link's text, as written: the authority after "scheme://", without the user part
// and the port (an IPv6 literal keeps its brackets). None when the link has no authority or an empty host.
// Read from the text because a parsed URL normalises its host (escapes decoded, international names in
// their ASCII form), while records and rules work with the link as it was written.
std::optional<std::pair<qsizetype, qsizetype>> writtenHostRange(const QString& link);

// That host's text, as written; none as above.
std::optional<QString> writtenHost(const QString& link);

// A link text as a browser takes it. The host is read strictly, as Qt's strict mode reads it, except that a
// host name may carry percent-escapes, as RFC 3986 allows; a web link (http, https, ws, wss, ftp) must write
// one after "//", so the host the rules see is the one a browser opens. Elsewhere the characters that
// desktop programs pass raw and a browser percent-encodes (`"<>`{}|^`, text beyond ASCII, a "%" without two
// hexadecimal digits) are read as their escapes. A "\" is refused anywhere: a browser reads it as "/" in web
// links, which could move the host. None unless the result is a usable link (isUsableLink).
std::optional<QUrl> parseLink(const QString& text);

// The text each of `urls` goes on as, in order: a link that is not a file as written where `writtenLinks`
// gives it (one text for each URL that is not a file, in order, as OpenConfiguration::writtenLinks), else
// its encoded form. A written text is used only when it parses as a link, so no text can pass for a switch.
QStringList linkTexts(const QList<QUrl>& urls, const QStringList& writtenLinks);

} // namespace host
