#include "Corvane/Views/Editor/SymbolVarietyPicker.h"

#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QLabel>
#include <QPainter>
#include <QPainterPath>

namespace {
constexpr int tileSpacing = 8;
constexpr int rowSpacing = 8;
} // namespace

SymbolVarietyPicker::SymbolVarietyPicker(int perRow, QWidget* parent)
    : QWidget(parent)
    , perRow_(std::max(1, perRow))
    , onlyOneForm_(new QLabel(QStringLiteral("This symbol has only one form."), this)) {
    setObjectName(QStringLiteral("symbolVarietyPicker"));
    onlyOneForm_->setObjectName(QStringLiteral("onlyOneForm"));
    onlyOneForm_->setWordWrap(true);
    TextStyle::caption(onlyOneForm_);
    QSizePolicy policy(QSizePolicy::Preferred, QSizePolicy::Preferred);
    policy.setHeightForWidth(true);
    setSizePolicy(policy);
    relayout();
}

void SymbolVarietyPicker::setSymbolName(const QString& name) {
    if (name == symbolName_ && !tiles_.empty())
        return;
    symbolName_ = name;
    loadVarieties();
}

void SymbolVarietyPicker::setCatalog(const std::optional<SymbolCatalog::Catalog>& catalog) {
    const bool arrived = !catalog_ && catalog;
    catalog_ = catalog;
    if (arrived)
        loadVarieties();
    else
        relayout();
}

void SymbolVarietyPicker::loadVarieties() {
    // Without a catalog the previous family stays as it was.
    if (catalog_) {
        const QStringList family = catalog_->variants(symbolName_);
        if (family != varieties_) {
            varieties_ = family;
            rebuildTiles();
        }
    }
    for (Tile* tile : tiles_) {
        tile->setChosen(tile->name() == symbolName_);
        if (catalog_)
            tile->setLabel(catalog_->variantLabel(tile->name(), symbolName_));
    }
    relayout();
}

void SymbolVarietyPicker::rebuildTiles() {
    // Deleted later: the tile being clicked may be the one that brought the new family.
    for (Tile* tile : tiles_) {
        tile->hide();
        tile->deleteLater();
    }
    tiles_.clear();
    for (const QString& name : varieties_) {
        auto* tile = new Tile(name, this);
        tile->setObjectName(QStringLiteral("variety:") + name);
        connect(tile, &QAbstractButton::clicked, this, [this, name] { emit symbolClicked(name); });
        tiles_.push_back(tile);
    }
}

bool SymbolVarietyPicker::showsTiles() const {
    return varieties_.size() > 1 && catalog_.has_value();
}

int SymbolVarietyPicker::singleRowWidth() const {
    const int count = int(varieties_.size());
    return count * Tile::tileWidth + std::max(0, count - 1) * tileSpacing;
}

QList<QStringList> SymbolVarietyPicker::rowsFor(int width) const {
    if (singleRowWidth() <= width)
        return {varieties_};
    QList<QStringList> rows;
    for (qsizetype start = 0; start < varieties_.size(); start += perRow_)
        rows.append(varieties_.mid(start, perRow_));
    return rows;
}

QList<QStringList> SymbolVarietyPicker::arrangedRows() const {
    return showsTiles() ? rowsFor(width()) : QList<QStringList>{};
}

int SymbolVarietyPicker::heightForWidth(int width) const {
    if (showsTiles()) {
        const int rows = int(rowsFor(width).size());
        return rows * Tile::tileHeight + (rows - 1) * rowSpacing;
    }
    if (varieties_.size() > 1)
        return 0;
    return onlyOneForm_->heightForWidth(width);
}

QSize SymbolVarietyPicker::sizeHint() const {
    if (showsTiles())
        return QSize(singleRowWidth(), Tile::tileHeight);
    if (varieties_.size() > 1)
        return QSize(0, 0);
    return onlyOneForm_->sizeHint();
}

QSize SymbolVarietyPicker::minimumSizeHint() const {
    if (showsTiles()) {
        const int columns = std::min(perRow_, int(varieties_.size()));
        return QSize(columns * Tile::tileWidth + (columns - 1) * tileSpacing, Tile::tileHeight);
    }
    return QSize(0, 0);
}

void SymbolVarietyPicker::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    relayout();
}

void SymbolVarietyPicker::relayout() {
    const bool tiles = showsTiles();
    onlyOneForm_->setVisible(varieties_.size() <= 1);
    if (varieties_.size() <= 1)
        onlyOneForm_->setGeometry(0, 0, width(), onlyOneForm_->heightForWidth(width()));
    for (Tile* tile : tiles_)
        tile->setVisible(tiles);
    if (tiles) {
        int y = 0;
        size_t index = 0;
        for (const QStringList& row : rowsFor(width())) {
            int x = 0;
            for (qsizetype i = 0; i < row.size(); ++i, ++index) {
                tiles_[index]->setGeometry(x, y, Tile::tileWidth, Tile::tileHeight);
                x += Tile::tileWidth + tileSpacing;
            }
            y += Tile::tileHeight + rowSpacing;
        }
    }
    updateGeometry();
}

SymbolVarietyPicker::Tile::Tile(const QString& name, QWidget* parent)
    : QAbstractButton(parent)
    , name_(name)
    , image_(systemImage(name, textColor(parent), 17)) {
    setToolTip(name);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
}

void SymbolVarietyPicker::Tile::setLabel(const QString& label) {
    if (label == text())
        return;
    setText(label);
    setAccessibleName(label);
    update();
}

void SymbolVarietyPicker::Tile::setChosen(bool chosen) {
    if (chosen == chosen_)
        return;
    chosen_ = chosen;
    update();
}

void SymbolVarietyPicker::Tile::paintEvent(QPaintEvent*) {
    QPainter painter(this);
    painter.setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    QColor fill = chosen_ ? ViewColors::accent() : ViewColors::secondary();
    fill.setAlphaF(fill.alphaF() * (chosen_ ? 0.25 : 0.08));
    QPainterPath background;
    background.addRoundedRect(QRectF(rect()), 7, 7);
    painter.fillPath(background, fill);
    if (hasFocus()) {
        painter.setPen(QPen(ViewColors::accent(), 1.5));
        painter.drawPath(background);
    }
    const QRectF imageFrame((width() - 38) / 2.0, 3, 38, 28);
    if (!image_.isNull()) {
        const QSizeF size = image_.deviceIndependentSize();
        painter.drawPixmap(
            QPointF(imageFrame.center().x() - size.width() / 2, imageFrame.center().y() - size.height() / 2),
            image_);
    }
    QFont small = font();
    small.setPixelSize(9);
    painter.setFont(small);
    painter.setPen(palette().color(QPalette::WindowText));
    const QRectF labelFrame((width() - 56) / 2.0, 3 + 28 + 3, 56, 22);
    painter.drawText(labelFrame, Qt::AlignHCenter | Qt::AlignTop | Qt::TextWordWrap, text());
}
