#include "CorvaneIcon/SymbolImages.h"

#include "CorvaneIcon/BadgePlacement.h"
#include "CorvaneIcon/InterfaceSymbols.h"
#include "CorvaneIcon/SymbolCatalog.h"

#include <QFileInfo>
#include <QMutex>
#include <QPainter>
#include <QSvgRenderer>
#include <cmath>

double rawValue(SymbolWeight weight) {
    switch (weight) {
    case SymbolWeight::Semibold:
        return 0.3;
    case SymbolWeight::Bold:
        return 0.4;
    case SymbolWeight::Black:
        return 0.62;
    }
    return 0.3;
}

namespace {

// How far the ink is thickened for a weight, as a fraction of the point size: the set is drawn in one weight,
// taken as semibold.
double emboldening(SymbolWeight weight) {
    switch (weight) {
    case SymbolWeight::Semibold:
        return 0;
    case SymbolWeight::Bold:
        return 0.012;
    case SymbolWeight::Black:
        return 0.028;
    }
    return 0;
}

QMutex sourceLock;
std::shared_ptr<const SymbolImageSource> currentSource;

} // namespace

SvgSymbolImageSource::SvgSymbolImageSource(QString svgDirectory, QHash<QString, QString> fileNames)
    : svgDirectory_(std::move(svgDirectory))
    , fileNames_(std::move(fileNames)) {}

QString SvgSymbolImageSource::defaultSvgDirectory() {
    return QStringLiteral("/usr/share/bootstrap-icons/svg");
}

QString SvgSymbolImageSource::filePath(const QString& name) const {
    if (name.isEmpty() || name.contains(QLatin1Char('/')) || name.startsWith(QLatin1Char('.')))
        return {};
    QString base = fileNames_.value(name);
    if (base.isEmpty()) {
        base = name;
        base.replace(QLatin1Char('.'), QLatin1Char('-'));
    }
    const QString path = svgDirectory_ + QLatin1Char('/') + base + QStringLiteral(".svg");
    return QFileInfo(path).isFile() ? path : QString();
}

bool SvgSymbolImageSource::canRender(const QString& name) const {
    return !filePath(name).isEmpty();
}

std::optional<QImage> SvgSymbolImageSource::image(const QString& name, double pointSize,
                                                  SymbolWeight weight) const {
    const QString path = filePath(name);
    if (path.isEmpty())
        return std::nullopt;
    QSvgRenderer renderer(path);
    if (!renderer.isValid())
        return std::nullopt;
    const int side = std::max(1, static_cast<int>(std::ceil(pointSize)));
    QImage glyph(side, side, QImage::Format_ARGB32_Premultiplied);
    glyph.fill(Qt::transparent);
    const double inset = emboldening(weight) * pointSize;
    {
        QPainter painter(&glyph);
        renderer.render(&painter, QRectF(inset, inset, side - 2 * inset, side - 2 * inset));
    }
    if (inset <= 0)
        return glyph;
    // Thicker strokes: the glyph drawn round a small circle of offsets, as a bolder cut would spread it.
    QImage bold(side, side, QImage::Format_ARGB32_Premultiplied);
    bold.fill(Qt::transparent);
    QPainter painter(&bold);
    for (int i = 0; i < 12; ++i) {
        const double angle = i * M_PI / 6;
        painter.drawImage(QPointF(inset * std::cos(angle), inset * std::sin(angle)), glyph);
    }
    painter.drawImage(QPointF(0, 0), glyph);
    return bold;
}

std::shared_ptr<const SymbolImageSource> symbolImageSource() {
    QMutexLocker locker(&sourceLock);
    if (!currentSource) {
        // The catalog's own files win where a name is in both tables.
        QHash<QString, QString> files = interfaceSymbolFiles();
        files.insert(SymbolCatalog::symbolFiles());
        currentSource = std::make_shared<SvgSymbolImageSource>(SvgSymbolImageSource::defaultSvgDirectory(),
                                                               std::move(files));
    }
    return currentSource;
}

void setSymbolImageSource(std::shared_ptr<const SymbolImageSource> source) {
    {
        QMutexLocker locker(&sourceLock);
        currentSource = std::move(source);
    }
    SymbolInk::forgetAll();
}
