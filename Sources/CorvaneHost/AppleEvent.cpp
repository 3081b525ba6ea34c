#include "CorvaneHost/AppleEvent.h"

#include "CorvaneHost/LinkText.h"

namespace host {

bool AppleEvent::isGetURL() const {
    return eventClass == kURLEventClass && eventID == kURLEventID;
}

bool AppleEvent::isOpenDocuments() const {
    return eventClass == kCoreEventClass && eventID == kOpenDocumentsEventID;
}

bool AppleEvent::isReopen() const {
    return eventClass == kCoreEventClass && eventID == kReopenEventID;
}

AppleEvent AppleEvent::getURL(const QString& link, std::optional<qint32> sender) {
    AppleEvent event;
    event.eventClass = kURLEventClass;
    event.eventID = kURLEventID;
    event.directObject = link;
    event.senderPID = sender;
    return event;
}

AppleEvent AppleEvent::openDocuments(const QList<QUrl>& files, std::optional<qint32> sender) {
    AppleEvent event;
    event.eventClass = kCoreEventClass;
    event.eventID = kOpenDocumentsEventID;
    event.documents = files;
    event.senderPID = sender;
    return event;
}

AppleEvent AppleEvent::reopen(std::optional<qint32> sender) {
    AppleEvent event;
    event.eventClass = kCoreEventClass;
    event.eventID = kReopenEventID;
    event.senderPID = sender;
    return event;
}

std::vector<AppleEvent> AppleEvent::forOpening(const QList<QUrl>& urls, std::optional<qint32> sender,
                                               const QStringList& writtenLinks) {
    std::vector<AppleEvent> events;
    QList<QUrl> files;
    const QStringList texts = linkTexts(urls, writtenLinks);
    for (qsizetype i = 0; i < urls.size(); ++i) {
        if (urls[i].isLocalFile())
            files.append(urls[i]);
        else
            events.push_back(getURL(texts[i], sender));
    }
    if (!files.isEmpty())
        events.push_back(openDocuments(files, sender));
    return events;
}

bool isUsableLink(const QUrl& url) {
    if (!url.isValid() || url.isRelative() || url.scheme().isEmpty())
        return false;
    return !url.toString(QUrl::FullyEncoded).startsWith(QLatin1Char('-'));
}

} // namespace host
