#pragma once

#include <QString>
#include <QStringList>
#include <functional>

namespace host {

// A modal alert: a message, a smaller informative text and its buttons, the first one the default.
struct Alert {
    enum class Style { informational, warning, critical };

    QString messageText;
    QString informativeText;
    QStringList buttons;
    Style style = Style::informational;
    // An image file shown in place of the style's icon (an application's own, as an About panel shows it).
    QString iconPath;
    bool operator==(const Alert&) const = default;
};

// Shows alerts modally. The completion runs on the main thread, once, with the index of the button that
// dismissed the alert.
class Alerts {
public:
    virtual ~Alerts() = default;
    virtual void runModal(const Alert& alert, std::function<void(int button)> completion) = 0;
};

Alerts& alerts();

} // namespace host
