#include "Support/FakeLoginItems.h"

#include "CorvaneHost/Services.h"

namespace test {

host::LoginItemStatus FakeLoginItems::status(const QString& identifier) {
    return statuses_.value(identifier, host::LoginItemStatus::notRegistered);
}

void FakeLoginItems::registerItem(const QString& identifier) {
    calls << QStringLiteral("register ") + identifier;
    if (failure_)
        throw *failure_;
    statuses_[identifier] =
        requireApproval ? host::LoginItemStatus::requiresApproval : host::LoginItemStatus::enabled;
}

void FakeLoginItems::unregisterItem(const QString& identifier) {
    calls << QStringLiteral("unregister ") + identifier;
    if (failure_)
        throw *failure_;
    statuses_[identifier] = host::LoginItemStatus::notRegistered;
}

FakeLoginItemsScope::FakeLoginItemsScope()
    : fake_(std::make_shared<FakeLoginItems>())
    , previous_(host::replaceService(host::services().loginItems, fake_)) {}

FakeLoginItemsScope::~FakeLoginItemsScope() {
    host::replaceService(host::services().loginItems, std::move(previous_));
}

} // namespace test
