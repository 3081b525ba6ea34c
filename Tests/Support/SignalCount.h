#pragma once

#include <QObject>

namespace test {

// Counts the emissions of one signal for its lifetime.
class SignalCount {
public:
    template <typename Sender, typename Signal> SignalCount(const Sender* sender, Signal signal) {
        connection_ = QObject::connect(sender, signal, [this] { ++count_; });
    }
    ~SignalCount() { QObject::disconnect(connection_); }
    SignalCount(const SignalCount&) = delete;
    SignalCount& operator=(const SignalCount&) = delete;

    int count() const { return count_; }

private:
    QMetaObject::Connection connection_;
    int count_ = 0;
};

} // namespace test
