#pragma once

#include <QString>

// The identity proxy apps are signed with: a code-signing certificate of the user's keychain when there is
// one, else an ad-hoc signature.
namespace SigningIdentity {

// A certificate's 40-character hash, or "-" for an ad-hoc signature. Runs the keychain tool; never fails.
QString preferred();

// The identity named in the keychain tool's listing, or "-".
QString fromListing(const QString& output);

} // namespace SigningIdentity
