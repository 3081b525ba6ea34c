#pragma once

// Whether the helper starts when the user logs in: the login item of the creator app (the helper copy under
// its "Contents/Library/LoginItems/"), which the system keeps registered. Holds no state; every status read
// asks the system afresh.
namespace LoginItem {

// Registered and allowed.
bool isEnabled();
// Registered, but waiting for the user to allow it in the system's settings.
bool needsApproval();
// Registers (true) or unregisters (false) the login item; throws the system's error and then changes nothing
// else. After a change, removes the launch agent that earlier versions installed for the same purpose.
void setEnabled(bool enabled);
// Boots the former launch agent out of the user's launchd domain and deletes its property list, if present.
// Never throws.
void removeLegacyLaunchAgent();

} // namespace LoginItem
