#include "CorvaneHost/Bundle.h"

#include "CorvaneHost/PropertyList.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace host {
namespace {

QString executablePath() {
    if (QCoreApplication::instance())
        return QCoreApplication::applicationFilePath();
    return QFileInfo(QStringLiteral("/proc/self/exe")).canonicalFilePath();
}

QString mainBundlePath() {
    const QString folder = QFileInfo(executablePath()).absolutePath();
    const QFileInfo macOS(folder);
    const QFileInfo contents(macOS.absolutePath());
    if (macOS.fileName() == QLatin1String("MacOS") && contents.fileName() == QLatin1String("Contents"))
        return QDir::cleanPath(contents.absolutePath());
    return folder;
}

} // namespace

Bundle::Bundle(QString bundlePath)
    : path_(std::move(bundlePath))
    , info_(readBundleInfo(path_)) {}

const Bundle& Bundle::main() {
    static const Bundle bundle(mainBundlePath());
    return bundle;
}

std::optional<QString> Bundle::pathForResource(const QString& name, const QString& type) const {
    const QString path = path_ + QStringLiteral("/Contents/Resources/") + name +
                         (type.isEmpty() ? QString() : QLatin1Char('.') + type);
    if (!QFileInfo(path).isFile())
        return std::nullopt;
    return path;
}

} // namespace host
