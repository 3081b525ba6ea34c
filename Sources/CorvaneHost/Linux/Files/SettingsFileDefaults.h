#pragma once

#include "CorvaneHost/Defaults.h"

namespace host {

// This machine's defaults: one settings file per bundle identifier in the host state folder
// ("defaults/<bundle identifier>.ini"), written through at every change so other processes see it.
class SettingsFileDefaults final : public Defaults {
public:
    std::optional<QVariant> value(const QString& bundleIdentifier, const QString& key) override;
    void setValue(const QString& bundleIdentifier, const QString& key, const QVariant& value) override;
    void removeValue(const QString& bundleIdentifier, const QString& key) override;

    // The file that holds a domain.
    static QString fileFor(const QString& bundleIdentifier);
};

} // namespace host
