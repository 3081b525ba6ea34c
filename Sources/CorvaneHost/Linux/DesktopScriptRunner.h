#pragma once

#include "CorvaneHost/ScriptRunner.h"

#include <QString>
#include <optional>

namespace host {

// What the product's private-window script asks for: a link in a private window of the browser with an
// identifier, both as the script's string literals hold them.
struct PrivateWindowRequest {
    QString bundleID;
    QString link;
    bool operator==(const PrivateWindowRequest&) const = default;
};

// The request a script text makes when it is the private-window script (it tells the application by
// identifier to make a window of mode "incognito" and to show the same link in a new window or a new tab);
// none for any other script.
std::optional<PrivateWindowRequest> privateWindowRequest(const QString& source);

// The browsers of this desktop take no scripts. The one script the product runs, a link in a private window,
// is carried out the desktop's way: the browser is started with its private-window command
// (privateWindowCommand), which a running browser takes as well. That script for a browser without one, and
// every other script, fails with an error that says why.
class DesktopScriptRunner final : public ScriptRunner {
public:
    std::unique_ptr<Script> compile(const QString& source) override;
};

} // namespace host
