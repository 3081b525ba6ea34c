#pragma once

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <map>

namespace test {

// Points HOME, the XDG folders (XDG_DATA_DIRS and XDG_CONFIG_DIRS included) and CORVANE_APPLICATIONS_PATH at
// a fresh temporary folder for its lifetime, and restores them afterwards.
class TemporaryHome {
public:
    TemporaryHome();
    ~TemporaryHome();
    TemporaryHome(const TemporaryHome&) = delete;
    TemporaryHome& operator=(const TemporaryHome&) = delete;

    QString path() const { return dir_.path(); }
    // A path below the home folder.
    QString file(const QString& relative) const { return dir_.path() + QLatin1Char('/') + relative; }

private:
    QTemporaryDir dir_;
    std::map<QByteArray, std::optional<QByteArray>> saved_;
};

} // namespace test
