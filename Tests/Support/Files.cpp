#include "Support/Files.h"

#include "CorvaneHost/PropertyList.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <gtest/gtest.h>

namespace test {

void writeFile(const QString& path, const QByteArray& bytes, const QDateTime& modified) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
    file.write(bytes);
    file.flush();
    ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

void setModified(const QString& path, const QDateTime& modified) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << path.toStdString();
    ASSERT_TRUE(file.setFileTime(modified, QFileDevice::FileModificationTime));
}

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

QString readText(const QString& path) {
    return QString::fromUtf8(contents(path));
}

QStringList linesOf(const QString& path) {
    return readText(path).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
}

bool writeScriptBundle(const QString& bundlePath, const QVariantMap& info, const QString& script) {
    const QString programFolder = bundlePath + QStringLiteral("/Contents/MacOS");
    QDir().mkpath(programFolder);
    if (!host::writePropertyListFile(bundlePath + QStringLiteral("/Contents/Info.plist"), info))
        return false;
    QFile program(programFolder + QLatin1Char('/') +
                  info.value(QStringLiteral("CFBundleExecutable")).toString());
    if (!program.open(QIODevice::WriteOnly))
        return false;
    program.write(script.toUtf8());
    program.close();
    return program.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

} // namespace test
