// corvane-app-icon: writes the creator app's icon into its bundle at build time, as an .icns holding one
// 512-pixel PNG (what the desktop entry and the window take their icon from).
//
//   corvane-app-icon <destination .icns>
#include "CorvaneIcon/IconFiles.h"
#include "CorvaneIcon/IconRenderer.h"

#include <QFile>
#include <QGuiApplication>
#include <QTextStream>
#include <QtEndian>

int main(int argc, char* argv[]) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments().mid(1);
    if (arguments.size() != 1) {
        QTextStream(stderr) << "usage: corvane-app-icon <destination .icns>\n";
        return 1;
    }
    try {
        const IconSpec icon(QStringLiteral("arrow.turn.up.right"), IconColor::rgb(0.0, 0.48, 1.0),
                            StubConfig::SymbolStyle::Light, StubConfig::IconStyle::Segments);
        const QByteArray png = pngData(IconRenderer::render(icon, 512));
        // One "ic09" entry (512 × 512 PNG) after the file header; lengths are big-endian and count the
        // headers.
        QByteArray icns("icns");
        icns.append(QByteArray(4, '\0'));
        icns.append("ic09");
        char length[4];
        qToBigEndian<quint32>(quint32(png.size() + 8), length);
        icns.append(length, 4);
        icns.append(png);
        qToBigEndian<quint32>(quint32(icns.size()), length);
        icns.replace(4, 4, QByteArray(length, 4));
        QFile out(arguments[0]);
        if (!out.open(QIODevice::WriteOnly) || out.write(icns) != icns.size()) {
            QTextStream(stderr) << "corvane-app-icon: cannot write " << arguments[0] << '\n';
            return 1;
        }
    } catch (const std::exception& error) {
        QTextStream(stderr) << "corvane-app-icon: " << error.what() << '\n';
        return 1;
    }
    return 0;
}
