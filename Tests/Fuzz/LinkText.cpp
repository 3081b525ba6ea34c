// The text of a link that an open event delivers, from any program of the desktop: it is taken as a link
// or refused, its host is read where the text writes it, and the router decides where it goes by rules that
// compare the host, the address and the file path.

#include "FuzzSupport.h"

#include "CorvaneCore/Routing/LinkRouter.h"
#include "CorvaneHost/LinkText.h"

namespace {

const RuleSet& rules() {
    static const RuleSet set = [] {
        RuleSet made;
        const auto rule = [&](QStringList values) {
            made.rules.push_back(LinkRule{QUuid::createUuid(),
                                          QStringLiteral("Rule"),
                                          RouteTarget::browser(QStringLiteral("org.mozilla.firefox")),
                                          true,
                                          MatchMode::any,
                                          {{Condition::Kind::addresses, std::move(values)}}});
        };
        rule({QStringLiteral("*.example.com"), QStringLiteral("docs.example.org/guide*")});
        rule({QStringLiteral("b%C3%BCcher.example"), QStringLiteral("[::1]*")});
        rule({QStringLiteral("/home/*/Downloads/*"), QStringLiteral("~/Documents/*")});
        rule({QStringLiteral("*?*=*")});
        return made;
    }();
    return set;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QString text = QString::fromUtf8(fuzz::bytes(data, size));
    if (const auto range = host::writtenHostRange(text))
        fuzz::require(0 <= range->first && range->first < range->second && range->second <= text.size(),
                      "the written host lies within the text");
    const std::optional<QUrl> url = host::parseLink(text);
    if (!url)
        return 0;
    // The rules see the host a browser opens: a web link writes one, and the URL's host is what its written
    // host reads as on its own (escaping the rest of the link never moves it).
    const std::optional<QString> written = host::writtenHost(text);
    const QString scheme = url->scheme().toLower();
    if (scheme == QLatin1String("http") || scheme == QLatin1String("https"))
        fuzz::require(written.has_value(), "a web link that is taken writes its host");
    if (written)
        fuzz::require(
            QUrl(url->scheme() + QStringLiteral("://") + *written + QLatin1Char('/'), QUrl::TolerantMode)
                    .host(QUrl::FullyEncoded) == url->host(QUrl::FullyEncoded),
            "the parsed host is the written host");
    if (!url->isLocalFile())
        fuzz::require(host::linkTexts({*url}, {text}) == QStringList{text},
                      "a link that is taken goes on as written");
    (void)LinkRouter::address(*url);
    (void)LinkRouter::decide(*url, QStringLiteral("com.example.Mail"), rules(), text);
    return 0;
}
