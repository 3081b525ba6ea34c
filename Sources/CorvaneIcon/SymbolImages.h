#pragma once

#include <QHash>
#include <QImage>
#include <QString>
#include <memory>
#include <optional>

// The weights symbols are drawn in; the raw values are the platform font weights the ink cache is keyed by.
enum class SymbolWeight { Semibold, Bold, Black };
double rawValue(SymbolWeight weight);

// Where symbol images come from: an image of the named symbol at a point size and weight (ink black on
// transparent, one pixel per point), or none for a name it does not know.
class SymbolImageSource {
public:
    virtual ~SymbolImageSource() = default;
    virtual std::optional<QImage> image(const QString& name, double pointSize, SymbolWeight weight) const = 0;
    virtual bool canRender(const QString& name) const = 0;
};

// The symbols of this machine: the catalog's SVG files (bootstrap-icons), found through the catalog's name
// table, drawn with Qt SVG. Heavier weights thicken the ink evenly.
class SvgSymbolImageSource : public SymbolImageSource {
public:
    // `svgDirectory` holds the SVG files; `fileNames` maps a symbol name to its file's base name where the
    // two differ (otherwise the name with its dots as dashes is the file).
    SvgSymbolImageSource(QString svgDirectory, QHash<QString, QString> fileNames);
    std::optional<QImage> image(const QString& name, double pointSize, SymbolWeight weight) const override;
    bool canRender(const QString& name) const override;

    // The package's icon folder.
    static QString defaultSvgDirectory();

private:
    QString filePath(const QString& name) const;

    QString svgDirectory_;
    QHash<QString, QString> fileNames_;
};

// The source every renderer and measurement uses: by default this machine's SVG set with the catalog's name
// table. Tests install a deterministic one; installing a source forgets the measured ink.
std::shared_ptr<const SymbolImageSource> symbolImageSource();
void setSymbolImageSource(std::shared_ptr<const SymbolImageSource> source);
