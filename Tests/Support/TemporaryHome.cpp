#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <sys/stat.h>

namespace test {

TemporaryHome::TemporaryHome()
    : dir_(QDir::tempPath() + QStringLiteral("/corvane-test-XXXXXX")) {
    const QString root = dir_.path();
    const std::map<QByteArray, QString> variables{
        {"HOME", root},
        {"XDG_STATE_HOME", root + QStringLiteral("/.local/state")},
        {"XDG_CONFIG_HOME", root + QStringLiteral("/.config")},
        {"XDG_DATA_HOME", root + QStringLiteral("/.local/share")},
        {"XDG_CACHE_HOME", root + QStringLiteral("/.cache")},
        {"XDG_RUNTIME_DIR", root + QStringLiteral("/run")},
        // Keep the machine's own desktop entries and settings out of sight too.
        {"XDG_DATA_DIRS", root + QStringLiteral("/usr/share")},
        {"XDG_CONFIG_DIRS", root + QStringLiteral("/etc/xdg")},
        {"CORVANE_APPLICATIONS_PATH", root + QStringLiteral("/Applications")},
    };
    for (const auto& [name, value] : variables) {
        saved_[name] = qEnvironmentVariableIsSet(name.constData()) ? std::optional(qgetenv(name.constData()))
                                                                   : std::nullopt;
        qputenv(name.constData(), QFile::encodeName(value));
    }
    QDir().mkpath(root + QStringLiteral("/run"));
    ::chmod(QFile::encodeName(root + QStringLiteral("/run")).constData(), 0700);
}

TemporaryHome::~TemporaryHome() {
    for (const auto& [name, value] : saved_) {
        if (value)
            qputenv(name.constData(), *value);
        else
            qunsetenv(name.constData());
    }
}

} // namespace test
