#include "CorvaneCore/Routing/RuleStore.h"

#include "CorvaneCore/Foundation/Logging.h"
#include "CorvaneCore/Foundation/Paths.h"

RuleStore& RuleStore::shared() {
    static RuleStore store;
    return store;
}

RuleStore::RuleStore()
    : file_({
          .path = Corvane::rulesURL,
          .decode = [](const QJsonValue& json) { return RuleSet::fromJson(json); },
          .encode = [](const RuleSet& set) -> QJsonValue { return set.toJson(); },
          // The defaults without a file hold no rules; a store that held some drops them when the file goes.
          .holdsNothing = [](const RuleSet& set) { return set.rules.empty(); },
          .logger = &Log::helper,
          .unreadableMessage =
              QStringLiteral("rules.json could not be read; routing everything to the fallback"),
      }) {
    reloadIfChanged();
}

std::optional<QDateTime> RuleStore::loadedModification() const {
    return file_.loadedModification();
}

bool RuleStore::reloadIfChanged() {
    return file_.reloadIfChanged();
}

RuleSet RuleStore::current() {
    return file_.current();
}

void RuleStore::save(const RuleSet& set) {
    file_.save(set);
}
