#include "CorvaneIcon/IconFiles.h"

#include "CorvaneCore/Integration/HelperInstaller.h"
#include "CorvaneHost/Error.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneIcon/IconRenderer.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QMap>
#include <QUuid>
#include <cerrno>
#include <exception>
#include <future>
#include <map>

namespace {

host::SystemError fileError(const QString& what, const QString& path) {
    return host::SystemError::fromErrno(QStringLiteral("%1 %2").arg(what, path), errno ? errno : EIO);
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    errno = 0;
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw fileError(QStringLiteral("could not write"), path);
}

void makeFolder(const QString& path) {
    errno = 0;
    if (!QDir().mkpath(path))
        throw fileError(QStringLiteral("could not create the folder"), path);
}

} // namespace

QByteArray pngData(const QImage& image) {
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImage plain = image;
    plain.setDevicePixelRatio(1);
    QImageWriter writer(&buffer, "png");
    // A middle compression level: files as small as with the default, written in half the time (measured).
    writer.setQuality(50);
    if (!writer.write(plain) || bytes.isEmpty())
        throw RenderError(RenderError::Code::contextFailed);
    return bytes;
}

WorkFolder::WorkFolder(const QString& prefix) {
    path_ = host::temporaryDirectory() + QLatin1Char('/') + prefix +
            QUuid::createUuid().toString(QUuid::WithoutBraces).toUpper();
    makeFolder(path_);
}

WorkFolder::~WorkFolder() {
    QDir(path_).removeRecursively();
}

namespace IcnsWriter {

const std::vector<IconSetFile>& iconSetFiles() {
    static const std::vector<IconSetFile> files{
        {QStringLiteral("icon_16x16.png"), 16},    {QStringLiteral("icon_16x16@2x.png"), 32},
        {QStringLiteral("icon_32x32.png"), 32},    {QStringLiteral("icon_32x32@2x.png"), 64},
        {QStringLiteral("icon_128x128.png"), 128}, {QStringLiteral("icon_128x128@2x.png"), 256},
        {QStringLiteral("icon_256x256.png"), 256}, {QStringLiteral("icon_256x256@2x.png"), 512},
        {QStringLiteral("icon_512x512.png"), 512}, {QStringLiteral("icon_512x512@2x.png"), 1024},
    };
    return files;
}

QByteArray write(const IconSpec& iconDescription, const QString& destination) {
    const auto base = IconRenderer::chromeBaseImage();
    WorkFolder work(QStringLiteral("corvane-icon-"));
    const QString iconSet = work.path() + QStringLiteral("/AppIcon.iconset");
    makeFolder(iconSet);

    // The sizes are drawn side by side (the renderer is safe to call from several threads), after what they
    // share is worked out once; the first failure in size order is the one reported.
    std::vector<int> sizes;
    for (const auto& file : iconSetFiles())
        sizes.push_back(file.pixels);
    IconRenderer::prepareSizes(iconDescription, sizes, base);
    std::map<int, std::future<QByteArray>> renders;
    for (const auto& file : iconSetFiles())
        if (!renders.contains(file.pixels))
            renders.emplace(file.pixels,
                            std::async(std::launch::async, [&iconDescription, &base, pixels = file.pixels] {
                                return pngData(IconRenderer::render(iconDescription, pixels, base, false));
                            }));
    QMap<int, QByteArray> pngs;
    std::exception_ptr failure;
    for (auto& [pixels, render] : renders) {
        try {
            pngs.insert(pixels, render.get());
        } catch (...) {
            if (!failure)
                failure = std::current_exception();
        }
    }
    if (failure)
        std::rethrow_exception(failure);
    for (const auto& file : iconSetFiles())
        writeFile(iconSet + QLatin1Char('/') + file.fileName, pngs.value(file.pixels));

    makeFolder(QFileInfo(destination).absolutePath());
    HelperInstaller::run(QStringLiteral("/usr/bin/iconutil"), {QStringLiteral("-c"), QStringLiteral("icns"),
                                                               QStringLiteral("-o"), destination, iconSet});
    return pngs.last();
}

} // namespace IcnsWriter

namespace IconPackageWriter {

QByteArray iconJson() {
    return QByteArrayLiteral(
        "{\n"
        "  \"fill\" : { \"solid\" : \"extended-srgb:1.00000,1.00000,1.00000,1.00000\" },\n"
        "  \"groups\" : [\n"
        "    {\n"
        "      \"layers\" : [\n"
        "        { \"image-name\" : \"artwork.png\", \"name\" : \"Artwork\" }\n"
        "      ]\n"
        "    }\n"
        "  ],\n"
        "  \"supported-platforms\" : {\n"
        "    \"circles\" : [ \"watchOS\" ],\n"
        "    \"squares\" : \"shared\"\n"
        "  }\n"
        "}\n");
}

void write(const IconSpec& iconDescription, const QString& destination) {
    const QFileInfo existing(destination);
    if (existing.exists() || existing.isSymLink()) {
        // Only an earlier package or a plain file is ours to replace; a folder of anything else is not.
        const bool isPackage = existing.isDir() && !existing.isSymLink() &&
                               QFileInfo(destination + QStringLiteral("/icon.json")).isFile();
        const bool isPlainFile = existing.isFile() || existing.isSymLink();
        if (!isPackage && !isPlainFile)
            throw host::SystemError(
                QStringLiteral("NSCocoaErrorDomain"), 516,
                QStringLiteral("%1 is in the way and is not an icon package").arg(destination));
        errno = 0;
        const bool removed = isPackage ? QDir(destination).removeRecursively() : QFile::remove(destination);
        if (!removed)
            throw fileError(QStringLiteral("could not remove"), destination);
    }
    makeFolder(destination + QStringLiteral("/Assets"));
    const QByteArray artwork = pngData(IconRenderer::render(iconDescription, 1024, std::nullopt, true));
    writeFile(destination + QStringLiteral("/Assets/artwork.png"), artwork);
    writeFile(destination + QStringLiteral("/icon.json"), iconJson());
}

} // namespace IconPackageWriter
