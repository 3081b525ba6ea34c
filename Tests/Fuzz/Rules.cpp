// "rules.json", which any program of the user may have written: the rule set decodes or is refused with
// the decoder's error, a decoded set is saved and read back unchanged, and the router applies it to links
// without failing.

#include "FuzzSupport.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Routing/LinkRouter.h"
#include "CorvaneCore/Routing/LinkRule.h"

#include <QUrl>

namespace {

std::optional<RuleSet> decode(const QByteArray& bytes) {
    try {
        return RuleSet::fromJson(JSONDecoder::corvane().decode(bytes));
    } catch (const host::Error&) {
        return std::nullopt;
    }
}

const std::vector<std::pair<QUrl, QString>>& links() {
    static const std::vector<std::pair<QUrl, QString>> list = [] {
        std::vector<std::pair<QUrl, QString>> made;
        for (const QString& text :
             {QStringLiteral("https://Docs.Example.com/a/b?q=1#top"), QStringLiteral("http://[::1]:8080/"),
              QStringLiteral("https://xn--bcher-kva.example/"),
              QStringLiteral("file:///home/someone/Page.html")})
            made.emplace_back(QUrl(text), text);
        return made;
    }();
    return list;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<RuleSet> set = decode(fuzz::bytes(data, size));
    if (!set)
        return 0;
    const std::optional<RuleSet> again = decode(JSONEncoder::corvane().encode(set->toJson()));
    fuzz::require(again == set, "a decoded rule set is saved and read back unchanged");
    (void)set->summary();
    for (const LinkRule& rule : set->rules)
        (void)rule.conditionSummary();
    for (const auto& [url, text] : links()) {
        (void)LinkRouter::decide(url, QStringLiteral("com.example.Mail"), *set, text);
        (void)LinkRouter::decide(url, std::nullopt, *set);
    }
    return 0;
}
