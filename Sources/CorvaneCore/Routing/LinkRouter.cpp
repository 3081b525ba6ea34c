#include "CorvaneCore/Routing/LinkRouter.h"

#include "CorvaneHost/Folders.h"
#include "CorvaneHost/LinkText.h"

#include <QHashFunctions>
#include <QTextBoundaryFinder>
#include <algorithm>
#include <array>
#include <cstring>
#include <vector>

namespace {

// --- Wildcard matching ---

// What the matcher needs to know of a pattern: its first and last star, and whether it is plain ASCII
// without a carriage return (then every code unit is one character and lowers to one character, so the match
// can walk the strings directly; a carriage return can join a line feed into one character).
struct PatternShape {
    qsizetype firstStar = -1;
    qsizetype lastStar = -1;
    bool simple = true;
};

PatternShape shapeOf(QStringView pattern) {
    PatternShape shape;
    char16_t seen = 0;
    for (qsizetype i = 0; i < pattern.size(); ++i) {
        const char16_t c = pattern[i].unicode();
        seen |= c;
        if (c == u'*') {
            if (shape.firstStar < 0)
                shape.firstStar = i;
            shape.lastStar = i;
        } else if (c == u'\r') {
            shape.simple = false;
        }
    }
    shape.simple = shape.simple && seen < 0x80;
    return shape;
}

char16_t lowerAscii(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

// Two ASCII characters, equal when lower-cased.
bool sameAsciiCharacter(char16_t p, char16_t t) {
    if (p == t)
        return true;
    const char16_t lower = p | 0x20;
    return lower == (t | 0x20) && lower >= u'a' && lower <= u'z';
}

// An ASCII character other than a line break always stands alone as a character of its own (only non-ASCII
// marks extend a character, and a carriage return joins a following line feed), and lowers to itself or
// another such character; so the quick comparisons below compare such characters one by one. What they must
// look at in an ASCII character: 1 stops them (a star, or a line break), 2 is the dot.
constexpr std::array<quint8, 128> asciiClasses = [] {
    std::array<quint8, 128> classes{};
    classes[u'*'] = 1;
    classes[u'\r'] = 1;
    classes[u'\n'] = 1;
    classes[u'.'] = 2;
    return classes;
}();

// True when the pattern's last characters, up to its last star, provably cannot end the text: compares from
// the back while both sides are plain ASCII and answers "no" at the first mismatch, "maybe" at the first
// doubt. With `stopAtStarDot` it also stops at the "." of a "*." so the answer holds for the pattern without
// a leading "*." as well.
bool endDiffers(QStringView pattern, QStringView text, bool stopAtStarDot = false) {
    const char16_t* patternEnd = pattern.utf16() + pattern.size();
    const char16_t* textEnd = text.utf16() + text.size();
    const qsizetype count = std::min(pattern.size(), text.size());
    for (qsizetype k = 1; k <= count; ++k) {
        const char16_t p = patternEnd[-k];
        const char16_t t = textEnd[-k];
        if ((p | t) >= 0x80)
            return false;
        if (const quint8 kind = asciiClasses[p]) {
            if (kind == 1 || (stopAtStarDot && k < pattern.size() && patternEnd[-k - 1] == u'*'))
                return false;
        }
        if (p == t)
            continue;
        if (asciiClasses[t] == 1)
            return false;
        if (!sameAsciiCharacter(p, t))
            return true;
    }
    return false;
}

// A quick and exact "no": the pattern's characters before its first star must begin the text, and those
// after its last star must end it. Compares only while both sides are plain ASCII and stops at the first
// doubt, so it never turns away a text that matches; most patterns that do not match fail at the first or
// last character without a scan of the whole.
bool cannotMatch(QStringView pattern, QStringView text) {
    const qsizetype m = pattern.size();
    const qsizetype n = text.size();
    qsizetype i = 0;
    for (; i < m && i < n; ++i) {
        const char16_t p = pattern[i].unicode();
        const char16_t t = text[i].unicode();
        if ((p | t) >= 0x80 || asciiClasses[p] == 1 || asciiClasses[t] == 1)
            break;
        if (p != t && !sameAsciiCharacter(p, t))
            return true;
    }
    // Everything so far plain and equal, and one side ran out: a pattern without a star cannot take more
    // text, and a used-up text leaves nothing for a pattern character that is not a star.
    if (i == m && i < n)
        return true;
    if (i == n && i < m && pattern[i] != QLatin1Char('*'))
        return true;
    return endDiffers(pattern, text);
}

bool isSimpleText(QStringView text) {
    char16_t seen = 0;
    bool carriageReturn = false;
    for (const QChar c : text) {
        seen |= c.unicode();
        carriageReturn |= c == QLatin1Char('\r');
    }
    return seen < 0x80 && !carriageReturn;
}

bool sameAscii(QStringView a, QStringView b) {
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (lowerAscii(a[i].unicode()) != lowerAscii(b[i].unicode()))
            return false;
    }
    return true;
}

// Walks pattern and text together; a "*" remembers where it stood, and on a mismatch the last star swallows
// one more character of the text. `isStar(p)` tells a star in the pattern, `same(p, t)` compares one pattern
// character with one text character.
template <typename IsStar, typename Same>
bool walk(qsizetype patternLength, qsizetype textLength, IsStar isStar, Same same) {
    qsizetype p = 0;
    qsizetype t = 0;
    qsizetype star = -1;
    qsizetype mark = 0;
    while (t < textLength) {
        if (p < patternLength && isStar(p)) {
            star = p++;
            mark = t;
        } else if (p < patternLength && same(p, t)) {
            ++p;
            ++t;
        } else if (star >= 0) {
            p = star + 1;
            t = ++mark;
        } else {
            return false;
        }
    }
    while (p < patternLength && isStar(p))
        ++p;
    return p == patternLength;
}

// Both sides plain ASCII. The match is anchored at both ends, so what stands before the first star and after
// the last one must begin and end the text: checking those first turns most mismatches away at once.
bool globSimple(QStringView pattern, const PatternShape& shape, QStringView text) {
    if (shape.firstStar < 0)
        return pattern.size() == text.size() && sameAscii(pattern, text);
    const qsizetype prefixLength = shape.firstStar;
    const qsizetype suffixLength = pattern.size() - shape.lastStar - 1;
    if (text.size() < prefixLength + suffixLength ||
        !sameAscii(pattern.first(prefixLength), text.first(prefixLength)) ||
        !sameAscii(pattern.last(suffixLength), text.last(suffixLength)))
        return false;
    // What is left of the pattern begins and ends with a star.
    const QStringView middle = pattern.sliced(prefixLength, shape.lastStar - prefixLength + 1);
    const QStringView rest = text.sliced(prefixLength, text.size() - prefixLength - suffixLength);
    return walk(
        middle.size(), rest.size(), [&](qsizetype p) { return middle[p] == QLatin1Char('*'); },
        [&](qsizetype p, qsizetype t) {
            return lowerAscii(middle[p].unicode()) == lowerAscii(rest[t].unicode());
        });
}

// The characters (grapheme clusters) of a text.
std::vector<QStringView> characters(const QString& text) {
    std::vector<QStringView> result;
    QTextBoundaryFinder finder(QTextBoundaryFinder::Grapheme, text);
    qsizetype start = 0;
    while (finder.toNextBoundary() >= 0) {
        const qsizetype end = finder.position();
        if (end > start)
            result.push_back(QStringView(text).sliced(start, end - start));
        start = end;
    }
    return result;
}

// Any text: full Unicode lower-casing, then the composed form, so that a composed and a decomposed letter are
// the same character; then the walk over characters.
bool globFull(QStringView pattern, QStringView text) {
    const QString lowerPattern = pattern.toString().toLower().normalized(QString::NormalizationForm_C);
    const QString lowerText = text.toString().toLower().normalized(QString::NormalizationForm_C);
    const std::vector<QStringView> patternCharacters = characters(lowerPattern);
    const std::vector<QStringView> textCharacters = characters(lowerText);
    return walk(
        qsizetype(patternCharacters.size()), qsizetype(textCharacters.size()),
        [&](qsizetype p) { return patternCharacters[p] == QLatin1String("*"); },
        [&](qsizetype p, qsizetype t) { return patternCharacters[p] == textCharacters[t]; });
}

bool glob(QStringView pattern, QStringView text, bool textIsSimple) {
    if (cannotMatch(pattern, text))
        return false;
    const PatternShape shape = shapeOf(pattern);
    return shape.simple && textIsSimple ? globSimple(pattern, shape, text) : globFull(pattern, text);
}

// --- The link ---

bool isFileLink(const QUrl& url) {
    return url.scheme().compare(QLatin1String("file"), Qt::CaseInsensitive) == 0;
}

QString expandingTilde(QStringView path) {
    if (!path.startsWith(QLatin1String("~/")))
        return path.toString();
    const QString home = host::homeDirectory();
    if (home.endsWith(QLatin1Char('/')))
        return home + path.sliced(2).toString();
    return home + path.sliced(1).toString();
}

// /tmp, /var and /etc are links into /private, so a pattern and a link may name the same file either way.
QString canonical(QString path) {
    for (const QLatin1String prefix : {QLatin1String("/tmp"), QLatin1String("/var"), QLatin1String("/etc")}) {
        if (path == prefix || (path.startsWith(prefix) && path.size() > prefix.size() &&
                               path.at(prefix.size()) == QLatin1Char('/')))
            return QStringLiteral("/private") + path;
    }
    return path;
}

// One text of the link that patterns are tested against.
struct LinkText {
    QString text;
    bool simple = true;

    explicit LinkText(QString value)
        : text(std::move(value))
        , simple(isSimpleText(text)) {}
};

// The parts of one link that patterns are tested against, each worked out once per decision and only when
// a pattern first needs it.
class Link {
public:
    explicit Link(const QUrl& url, const std::optional<QString>& written = std::nullopt)
        : url_(url)
        , written_(written)
        , isFile_(isFileLink(url)) {}

    bool isFile() const { return isFile_; }

    // Worked out on first use only; the accessors stay small enough to inline into the pattern loop.
    const LinkText& host() {
        if (!host_)
            computeHost();
        return *host_;
    }
    const LinkText& address() {
        if (!address_)
            computeAddress();
        return *address_;
    }
    const LinkText& filePath() {
        if (!filePath_)
            filePath_.emplace(canonical(url_.adjusted(QUrl::NormalizePathSegments).path(QUrl::FullyDecoded)));
        return *filePath_;
    }

private:
    // The host as the link's text writes it (the URL's host when no text was given): a parsed host has its
    // escapes decoded and international names in their ASCII form, which a rule made from the link as it
    // was recorded would not match.
    void computeHost() {
        std::optional<QString> host = written_ ? host::writtenHost(*written_) : std::nullopt;
        if (!host)
            host = url_.host(QUrl::FullyEncoded);
        else if (host->startsWith(QLatin1Char('[')) && host->endsWith(QLatin1Char(']')))
            host = host->mid(1, host->size() - 2); // an address literal is compared without its brackets
        host_.emplace(host->toLower());
    }
    void computeAddress() {
        const QString& host = this->host().text;
        const QString path = url_.path(QUrl::FullyDecoded);
        const QString query = url_.hasQuery() ? url_.query(QUrl::FullyDecoded) : QString();
        if (path == QLatin1String("/") && query.isEmpty())
            address_.emplace(host);
        else
            address_.emplace(query.isEmpty() ? host + path : host + path + QLatin1Char('?') + query);
    }

    const QUrl& url_;
    std::optional<QString> written_;
    bool isFile_;
    std::optional<LinkText> host_;
    std::optional<LinkText> address_;
    std::optional<LinkText> filePath_;
};

bool hostMatches(QStringView pattern, const LinkText& host) {
    if (host.text.isEmpty())
        return false;
    if (glob(pattern, host.text, host.simple))
        return true;
    return pattern.size() >= 2 && pattern[0] == QLatin1Char('*') && pattern[1] == QLatin1Char('.') &&
           glob(pattern.sliced(2), host.text, host.simple);
}

bool isFilePathStart(QStringView pattern) {
    return (!pattern.isEmpty() && pattern[0] == QLatin1Char('/')) ||
           (pattern.size() >= 2 && pattern[0] == QLatin1Char('~') && pattern[1] == QLatin1Char('/'));
}

// Every address pattern of every rule tried is searched on each decision, so this looks at eight characters
// at a time (a portable vector type: SIMD where the processor has it, plain words elsewhere).
qsizetype indexOfCharacter(QStringView text, char16_t wanted, qsizetype from = 0) {
    using Lanes = quint16 __attribute__((vector_size(16)));
    const Lanes needle = {wanted, wanted, wanted, wanted, wanted, wanted, wanted, wanted};
    const char16_t* data = text.utf16();
    const qsizetype size = text.size();
    qsizetype i = from;
    for (; i + 8 <= size; i += 8) {
        Lanes lanes;
        std::memcpy(&lanes, data + i, sizeof lanes);
        const auto equal = lanes == needle;
        quint64 halves[2];
        std::memcpy(halves, &equal, sizeof halves);
        if (halves[0] | halves[1])
            break;
    }
    for (; i < size; ++i) {
        if (data[i] == wanted)
            return i;
    }
    return -1;
}

// A quick and exact "no" from the end of an address pattern, before it is taken apart: whatever the pattern
// turns out to be, its last characters (up to a star) must end the text it is compared with, the host for a
// host pattern and the address for a path pattern; when they can end neither, it cannot match. Comparing
// from the back needs no search for the pattern's scheme: should the comparison run past the end of the
// scheme into it, the part after the scheme held no star and already equalled the end of a longer text, which
// never matches either.
bool endCannotMatch(QStringView pattern, QStringView host, QStringView address) {
    return endDiffers(pattern, host, true) && endDiffers(pattern, address);
}

bool addressMatches(QStringView rawPattern, Link& link) {
    const QStringView pattern = RuleValue::trimmed(rawPattern);
    if (pattern.isEmpty())
        return false;

    if (isFilePathStart(pattern)) {
        if (!link.isFile())
            return false;
        const LinkText& linkPath = link.filePath();
        return glob(canonical(expandingTilde(pattern)), linkPath.text, linkPath.simple);
    }

    if (link.isFile())
        return false;

    // Most patterns of a rule set are turned away here, by their last characters, before any search.
    QStringView rest = pattern;
    while (!rest.isEmpty() && rest.back() == QLatin1Char('/'))
        rest.chop(1);
    const LinkText& host = link.host();
    const LinkText& address = link.address();
    if (endCannotMatch(rest, host.text, address.text))
        return false;

    // Glob lowers both sides itself, and lowering changes neither "://", "/" nor "*.", so the pattern is
    // taken apart as it stands: everything up to and including the first "://" goes.
    rest = pattern;
    for (qsizetype colon = indexOfCharacter(rest, u':'); colon >= 0;
         colon = indexOfCharacter(rest, u':', colon + 1)) {
        if (colon + 2 < rest.size() && rest[colon + 1] == QLatin1Char('/') &&
            rest[colon + 2] == QLatin1Char('/')) {
            rest = rest.sliced(colon + 3);
            break;
        }
    }
    while (!rest.isEmpty() && rest.back() == QLatin1Char('/'))
        rest.chop(1);
    if (rest.isEmpty())
        return false;
    if (indexOfCharacter(rest, u'/') >= 0)
        return glob(rest, address.text, address.simple);
    return hostMatches(rest, host);
}

bool conditionMatches(const Condition& condition, Link& link, const std::optional<QString>& source) {
    if (condition.kind == Condition::Kind::apps) {
        if (!source || source->isEmpty())
            return false;
        for (const QString& value : condition.values) {
            const QStringView usable = RuleValue::trimmed(value);
            if (!usable.isEmpty() && usable.compare(*source, Qt::CaseInsensitive) == 0)
                return true;
        }
        return false;
    }
    for (const QString& value : condition.values) {
        if (addressMatches(value, link))
            return true;
    }
    return false;
}

bool ruleMatches(const LinkRule& rule, Link& link, const std::optional<QString>& source) {
    if (rule.match == MatchMode::any) {
        // A condition without usable values never passes, so it needs no separate skip here.
        for (const Condition& condition : rule.conditions) {
            if (conditionMatches(condition, link, source))
                return true;
        }
        return false;
    }
    bool sawUsable = false;
    for (const Condition& condition : rule.conditions) {
        if (condition.isEmpty())
            continue;
        sawUsable = true;
        if (!conditionMatches(condition, link, source))
            return false;
    }
    // Without a usable condition an all-rule matches nothing rather than everything.
    return sawUsable;
}

} // namespace

size_t qHash(const RouteDecision& decision, size_t seed) noexcept {
    seed = QtPrivate::QHashCombine{}(seed, decision.rule ? qHash(*decision.rule) : size_t(0x51));
    return QtPrivate::QHashCombine{}(seed, decision.target ? qHash(*decision.target) : size_t(0x52));
}

namespace LinkRouter {

RouteDecision decide(const QUrl& url, const std::optional<QString>& sourceBundleID, const RuleSet& set,
                     const std::optional<QString>& written) {
    Link link(url, written);
    for (const LinkRule& rule : set.rules) {
        if (rule.isEnabled && ruleMatches(rule, link, sourceBundleID))
            return RouteDecision{rule, rule.target};
    }
    return RouteDecision{};
}

bool matches(const LinkRule& rule, const QUrl& url, const std::optional<QString>& sourceBundleID) {
    Link link(url);
    return ruleMatches(rule, link, sourceBundleID);
}

bool matches(const Condition& condition, const QUrl& url, const std::optional<QString>& sourceBundleID) {
    Link link(url);
    return conditionMatches(condition, link, sourceBundleID);
}

bool matchesAddress(const QString& pattern, const QUrl& url) {
    Link link(url);
    return addressMatches(pattern, link);
}

bool isFilePathPattern(const QString& pattern) {
    return isFilePathStart(RuleValue::trimmed(pattern));
}

QString address(const QUrl& url) {
    Link link(url);
    return link.address().text;
}

QString filePath(const QUrl& url) {
    Link link(url);
    return link.filePath().text;
}

bool matchesHost(const QString& pattern, const QString& host) {
    return hostMatches(pattern, LinkText(host));
}

} // namespace LinkRouter

namespace Glob {

bool matches(QStringView pattern, QStringView text) {
    return glob(pattern, text, isSimpleText(text));
}

bool matches(const QString& pattern, const QString& text) {
    return matches(QStringView(pattern), QStringView(text));
}

} // namespace Glob
