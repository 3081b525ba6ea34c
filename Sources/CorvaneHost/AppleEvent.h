#pragma once

#include <QList>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QtGlobal>
#include <optional>
#include <vector>

namespace host {

// An event sent to an application by another program: the URL-opening event (class and id "GURL", the link
// text as its direct object), the open-documents event (class "aevt", id "odoc", the files) and the reopen
// event (class "aevt", id "rapp"), with the process identifier of the sender when it is known.
struct AppleEvent {
    QString eventClass;
    QString eventID;
    std::optional<QString> directObject; // GURL: the link as text, exactly as sent
    QList<QUrl> documents;               // odoc: file URLs
    std::optional<qint32> senderPID;

    bool operator==(const AppleEvent&) const = default;

    bool isGetURL() const;
    bool isOpenDocuments() const;
    bool isReopen() const;

    static AppleEvent getURL(const QString& link, std::optional<qint32> sender);
    static AppleEvent openDocuments(const QList<QUrl>& files, std::optional<qint32> sender);
    static AppleEvent reopen(std::optional<qint32> sender);

    // One event for `urls` opened together, as the system sends them: a URL-opening event for each link that
    // is not a file, then one open-documents event for all the files. A link's event carries its text as
    // written where `writtenLinks` gives it (one text for each URL that is not a file, in order): a parsed
    // URL has its host normalised, which would change the link the receiver routes.
    static std::vector<AppleEvent> forOpening(const QList<QUrl>& urls, std::optional<qint32> sender,
                                              const QStringList& writtenLinks = {});
};

inline const QString kURLEventClass = QStringLiteral("GURL");
inline const QString kURLEventID = QStringLiteral("GURL");
inline const QString kCoreEventClass = QStringLiteral("aevt");
inline const QString kOpenDocumentsEventID = QStringLiteral("odoc");
inline const QString kReopenEventID = QStringLiteral("rapp");

// A link text that can be handed on: an absolute URL with a scheme, whose text does not start with "-".
bool isUsableLink(const QUrl& url);

} // namespace host
