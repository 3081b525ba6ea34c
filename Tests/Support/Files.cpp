#include "Support/Files.h"

#include "CorvaneHost/PropertyList.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QtEndian>
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

QByteArray icnsWithOnePicture(const char* type, int side) {
    QImage image(side, side, QImage::Format_ARGB32);
    image.fill(Qt::blue);
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "PNG");
    const auto bigEndian = [](quint32 value) {
        QByteArray bytes(4, '\0');
        qToBigEndian(value, bytes.data());
        return bytes;
    };
    const QByteArray chunk = type + bigEndian(quint32(png.size() + 8)) + png;
    return "icns" + bigEndian(quint32(chunk.size() + 8)) + chunk;
}

} // namespace test
