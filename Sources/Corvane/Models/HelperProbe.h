#pragma once

#include "Corvane/Models/HelperConnection.h"

#include <functional>
#include <memory>
#include <optional>
#include <vector>

// The creator app's side of the conversation with the background helper: introduces the creator app, follows
// the connection and the helper's Accessibility grant, passes on news of routed links and asks for a
// profile's tab groups. Respects the user's helper-use switch. Main thread only; own it through a shared
// pointer (its handlers and timer hold it weakly).
class HelperProbe : public std::enable_shared_from_this<HelperProbe> {
public:
    // A tab-group listing: the groups, and the failure of the request when it failed.
    using TabGroupsCompletion =
        std::function<void(const std::vector<TabGroupInfo>& groups, const std::optional<QString>& failure)>;

    explicit HelperProbe(std::shared_ptr<HelperConnection> link = {});

    const std::shared_ptr<HelperConnection> link;
    bool trusted = false;
    bool connected = false;
    std::function<void()> onChange;
    std::function<void()> onHistoryChanged;

    // Connects, unless helper use is off.
    void start();
    // Helper use is on and the installed helper exists.
    static bool isAvailable();
    // Installs the helper when needed and starts it, unless helper use is off.
    void requestGrant();
    // What a repair of the grant did: nothing at all while helper use is off, else cleared the entry or
    // says why it could not.
    struct GrantRepair {
        bool ran = false;
        std::optional<QString> failure;
    };
    // Clears the helper's Accessibility entry and starts over, unless helper use is off.
    GrantRepair repairGrant();
    // Asks the helper for a profile's tab groups; the completion runs later on the main queue, with an empty
    // list (and the failure) when the request could not be answered.
    void tabGroups(const QString& profile, bool deep, TabGroupsCompletion completion);

    static constexpr double listTimeout = 4.0;
    static constexpr double deepListTimeout = 12.0;
    static constexpr double restartDelay = 1.5;

private:
    static bool helperUseIsOff();
};
