#pragma once

#include "CorvaneHost/LoginItems.h"

#include <QMap>
#include <QStringList>
#include <memory>
#include <optional>

namespace test {

// Login items kept in memory. Registering makes an item enabled, or waiting for approval while
// `requireApproval` is set; unregistering makes it not registered. Failures are programmable; every call is
// recorded as "register <id>" or "unregister <id>".
class FakeLoginItems final : public host::LoginItems {
public:
    bool requireApproval = false;
    QStringList calls;

    void setStatus(const QString& identifier, host::LoginItemStatus status) {
        statuses_[identifier] = status;
    }
    // The next register and unregister calls throw this error (until cleared with none).
    void failChanges(std::optional<host::SystemError> error) { failure_ = std::move(error); }

    host::LoginItemStatus status(const QString& identifier) override;
    void registerItem(const QString& identifier) override;
    void unregisterItem(const QString& identifier) override;

private:
    QMap<QString, host::LoginItemStatus> statuses_;
    std::optional<host::SystemError> failure_;
};

// Installs a FakeLoginItems as host::loginItems() for its lifetime and restores the previous one.
class FakeLoginItemsScope {
public:
    FakeLoginItemsScope();
    ~FakeLoginItemsScope();
    FakeLoginItemsScope(const FakeLoginItemsScope&) = delete;
    FakeLoginItemsScope& operator=(const FakeLoginItemsScope&) = delete;
    FakeLoginItems* operator->() { return fake_.get(); }
    FakeLoginItems& loginItems() { return *fake_; }

private:
    std::shared_ptr<FakeLoginItems> fake_;
    std::shared_ptr<host::LoginItems> previous_;
};

} // namespace test
