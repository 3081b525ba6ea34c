// Packs an icon-set folder into an .icns file: `iconutil -c icns [-o <file.icns>] <folder.iconset>`.
// Each PNG of the set goes in as the icon type of its name, checked against its pixel size.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QTextStream>
#include <QtEndian>

namespace {

struct IconType {
    const char* fileName;
    const char* type;
    int pixels;
};

// The icon-set names and the PNG-holding icon types they become, largest first as the format lists them.
constexpr IconType iconTypes[] = {
    {"icon_512x512@2x.png", "ic10", 1024}, {"icon_512x512.png", "ic09", 512},
    {"icon_256x256@2x.png", "ic14", 512},  {"icon_256x256.png", "ic08", 256},
    {"icon_128x128@2x.png", "ic13", 256},  {"icon_128x128.png", "ic07", 128},
    {"icon_32x32@2x.png", "ic12", 64},     {"icon_32x32.png", "icp5", 32},
    {"icon_16x16@2x.png", "ic11", 32},     {"icon_16x16.png", "icp4", 16},
};

// The width and height in a PNG's header, or none when the bytes are no PNG.
bool pngSize(const QByteArray& png, quint32& width, quint32& height) {
    static const QByteArray signature("\x89PNG\r\n\x1a\n", 8);
    if (png.size() < 24 || !png.startsWith(signature) || png.mid(12, 4) != "IHDR")
        return false;
    width = qFromBigEndian<quint32>(png.constData() + 16);
    height = qFromBigEndian<quint32>(png.constData() + 20);
    return true;
}

QByteArray bigEndian(quint32 value) {
    QByteArray bytes(4, '\0');
    qToBigEndian(value, bytes.data());
    return bytes;
}

int usage(QTextStream& err) {
    err << "usage: iconutil -c icns [-o file.icns] folder.iconset\n";
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QTextStream err(stderr);
    const QStringList arguments = app.arguments().mid(1);
    QString format, output, input;
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments[i];
        if ((argument == QLatin1String("-c") || argument == QLatin1String("--convert")) &&
            i + 1 < arguments.size())
            format = arguments[++i];
        else if ((argument == QLatin1String("-o") || argument == QLatin1String("--output")) &&
                 i + 1 < arguments.size())
            output = arguments[++i];
        else if (argument.startsWith(QLatin1Char('-')) || !input.isEmpty())
            return usage(err);
        else
            input = argument;
    }
    if (format != QLatin1String("icns") || input.isEmpty())
        return usage(err);
    if (!QFileInfo(input).isDir()) {
        err << "iconutil: " << input << " is not an iconset folder\n";
        return 1;
    }
    if (output.isEmpty()) {
        QString base = QFileInfo(input).absoluteFilePath();
        if (base.endsWith(QLatin1String(".iconset")))
            base.chop(8);
        output = base + QStringLiteral(".icns");
    }

    QByteArray body;
    for (const IconType& icon : iconTypes) {
        QFile file(QDir(input).filePath(QLatin1String(icon.fileName)));
        if (!file.exists())
            continue;
        if (!file.open(QIODevice::ReadOnly)) {
            err << "iconutil: cannot read " << file.fileName() << "\n";
            return 1;
        }
        const QByteArray png = file.readAll();
        quint32 width = 0, height = 0;
        if (!pngSize(png, width, height)) {
            err << "iconutil: " << icon.fileName << " is not a PNG image\n";
            return 1;
        }
        if (width != quint32(icon.pixels) || height != quint32(icon.pixels)) {
            err << "iconutil: " << icon.fileName << " is " << width << "x" << height << ", expected "
                << icon.pixels << "x" << icon.pixels << "\n";
            return 1;
        }
        body += QByteArray(icon.type, 4) + bigEndian(quint32(png.size() + 8)) + png;
    }
    if (body.isEmpty()) {
        err << "iconutil: " << input << " holds no icon images\n";
        return 1;
    }
    QSaveFile icns(output);
    if (!icns.open(QIODevice::WriteOnly) ||
        icns.write(QByteArray("icns") + bigEndian(quint32(body.size() + 8)) + body) < 0 || !icns.commit()) {
        err << "iconutil: cannot write " << output << "\n";
        return 1;
    }
    return 0;
}
