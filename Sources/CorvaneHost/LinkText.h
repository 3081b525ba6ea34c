#pragma once

#include <QString>
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

// A link text as the platform's URL type reads it: Qt's strict mode, except that a host name may carry
// percent-escapes, as RFC 3986 allows (Qt's strict mode refuses them). None unless the result is a usable
// link (isUsableLink).
std::optional<QUrl> parseLink(const QString& text);

} // namespace host
