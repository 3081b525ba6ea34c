#pragma once

#include "CorvaneIcon/SymbolCatalog.h"

#include <QAbstractButton>
#include <QList>
#include <QStringList>
#include <QWidget>
#include <optional>

class QLabel;

// The other forms of the chosen symbol (outline, filled, circled, ...) as small labelled tiles; a click makes
// that form the chosen symbol. The tiles stand in one row when it fits, else in rows of `perRow`.
class SymbolVarietyPicker : public QWidget {
    Q_OBJECT

public:
    // A count below 1 is taken as 1: the tiles are cut into rows of at least one.
    explicit SymbolVarietyPicker(int perRow, QWidget* parent = nullptr);

    void setSymbolName(const QString& name);
    const QString& symbolName() const { return symbolName_; }
    // The loaded catalog, or none while the caller has none yet.
    void setCatalog(const std::optional<SymbolCatalog::Catalog>& catalog);

    const QStringList& varieties() const { return varieties_; }
    int perRow() const { return perRow_; }
    // The tiles as they stand now, row by row.
    QList<QStringList> arrangedRows() const;

    bool hasHeightForWidth() const override { return true; }
    int heightForWidth(int width) const override;
    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    // The user clicked a tile (also the one of the current symbol).
    void symbolClicked(const QString& name);

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    class Tile;
    void loadVarieties();
    void rebuildTiles();
    void relayout();
    bool showsTiles() const;
    QList<QStringList> rowsFor(int width) const;
    int singleRowWidth() const;

    int perRow_;
    QString symbolName_;
    std::optional<SymbolCatalog::Catalog> catalog_;
    QStringList varieties_;
    std::vector<Tile*> tiles_;
    QLabel* onlyOneForm_;
};

// One form: its image and short label on a rounded tile, highlighted when it is the chosen symbol.
class SymbolVarietyPicker::Tile : public QAbstractButton {
    Q_OBJECT

public:
    static constexpr int tileWidth = 56;
    static constexpr int tileHeight = 3 + 28 + 3 + 22 + 3;

    Tile(const QString& name, QWidget* parent);
    const QString& name() const { return name_; }
    void setLabel(const QString& label);
    void setChosen(bool chosen);
    bool isChosen() const { return chosen_; }
    QSize sizeHint() const override { return QSize(tileWidth, tileHeight); }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QString name_;
    QPixmap image_;
    bool chosen_ = false;
};
