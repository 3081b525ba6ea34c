#pragma once

#include <QString>
#include <QVariantMap>
#include <optional>

namespace host {

// An application bundle folder ("….app/Contents/{Info.plist, MacOS, Resources}") as a program sees it once
// loaded: its Info.plist is read when the value is made and kept, as the platform keeps a loaded bundle's.
class Bundle {
public:
    explicit Bundle(QString bundlePath);

    // The running program's bundle: the folder two levels above the executable when that lies in
    // "Contents/MacOS", else the executable's own folder (which then has no Info.plist).
    static const Bundle& main();

    const QString& bundlePath() const { return path_; }
    // The Info.plist dictionary, or none when the bundle has none.
    const std::optional<QVariantMap>& infoDictionary() const { return info_; }
    // "Contents/Resources/<name>.<type>" when that file exists.
    std::optional<QString> pathForResource(const QString& name, const QString& type) const;

private:
    QString path_;
    std::optional<QVariantMap> info_;
};

} // namespace host
