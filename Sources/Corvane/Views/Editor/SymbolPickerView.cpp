#include "Corvane/Views/Editor/SymbolPickerView.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Views/Editor/SymbolVarietyPicker.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/SystemImages.h"
#include "CorvaneHost/BackgroundWork.h"

#include <QClipboard>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QListWidget>
#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QStackedWidget>
#include <QVBoxLayout>
#include <algorithm>

namespace {

constexpr int cellSide = 44;
constexpr int columnGap = 8;
constexpr int minimumColumn = 52;

QFrame* divider(Qt::Orientation orientation, QWidget* parent) {
    auto* line = new QFrame(parent);
    line->setFrameShape(orientation == Qt::Horizontal ? QFrame::HLine : QFrame::VLine);
    line->setFrameShadow(QFrame::Plain);
    line->setForegroundRole(QPalette::Mid);
    return line;
}

QWidget* detail(const QString& title, const QString& objectName, QWidget* parent) {
    auto* box = new QWidget(parent);
    box->setObjectName(objectName);
    auto* column = new QVBoxLayout(box);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(2);
    auto* label = new QLabel(title, box);
    TextStyle::caption(label);
    auto* value = new QLabel(box);
    value->setObjectName(objectName + QStringLiteral("Value"));
    value->setWordWrap(true);
    value->setTextInteractionFlags(Qt::TextSelectableByMouse);
    column->addWidget(label);
    column->addWidget(value);
    return box;
}

} // namespace

SymbolGridModel::SymbolGridModel(QObject* parent)
    : QAbstractListModel(parent) {}

void SymbolGridModel::setCatalog(const SymbolCatalog::Catalog* catalog) {
    catalog_ = catalog;
}

void SymbolGridModel::setNames(const QStringList& names) {
    if (names == names_)
        return;
    beginResetModel();
    names_ = names;
    rowOf_.clear();
    rowOf_.reserve(names_.size());
    for (int row = 0; row < names_.size(); ++row)
        rowOf_.insert(names_[row], row);
    endResetModel();
}

void SymbolGridModel::setSelection(const QString& name) {
    if (name == selection_)
        return;
    const QString previous = selection_;
    selection_ = name;
    refreshRowsOf(previous);
    refreshRowsOf(selection_);
}

// A listed name is highlighted by its own selection or its fill partner's, so those are the rows to redraw.
void SymbolGridModel::refreshRowsOf(const QString& selection) {
    QStringList listed{selection};
    if (catalog_) {
        if (const auto filled = catalog_->filled(selection))
            listed.append(*filled);
        if (const auto unfilled = catalog_->unfilled(selection))
            listed.append(*unfilled);
    }
    for (const QString& name : listed) {
        const auto row = rowOf_.constFind(name);
        if (row != rowOf_.constEnd())
            emit dataChanged(index(*row), index(*row), {isSelectedRole});
    }
}

QString SymbolGridModel::target(const QString& listed) const {
    if (catalog_)
        if (const auto filled = catalog_->filled(listed))
            return *filled;
    return listed;
}

bool SymbolGridModel::isSelected(const QString& listed) const {
    if (selection_ == listed)
        return true;
    if (!catalog_)
        return false;
    return selection_ == catalog_->filled(listed) || selection_ == catalog_->unfilled(listed);
}

int SymbolGridModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(names_.size());
}

QVariant SymbolGridModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= names_.size())
        return {};
    const QString& listed = names_[index.row()];
    switch (role) {
    case Qt::DecorationRole: {
        const QString name = target(listed);
        auto picture = pictures_.constFind(name);
        if (picture == pictures_.constEnd())
            picture = pictures_.insert(name, systemImage(name, textColor(nullptr), 22));
        return *picture;
    }
    case Qt::ToolTipRole:
    case targetRole:
        return target(listed);
    case Qt::AccessibleTextRole:
        return SymbolCatalog::displayName(target(listed));
    case isSelectedRole:
        return isSelected(listed);
    default:
        return {};
    }
}

void SymbolCellDelegate::paint(QPainter* painter, const QStyleOptionViewItem& option,
                               const QModelIndex& index) const {
    painter->save();
    painter->setRenderHints(QPainter::Antialiasing | QPainter::SmoothPixmapTransform);
    const QRectF cell(option.rect.center().x() - cellSide / 2.0 + 0.5,
                      option.rect.center().y() - cellSide / 2.0 + 0.5, cellSide, cellSide);
    const bool selected = index.data(SymbolGridModel::isSelectedRole).toBool();
    QColor fill = selected ? ViewColors::accent() : ViewColors::secondary();
    fill.setAlphaF(fill.alphaF() * (selected ? 0.25 : 0.08));
    QPainterPath tile;
    tile.addRoundedRect(cell, 8, 8);
    painter->fillPath(tile, fill);
    if (option.state & QStyle::State_HasFocus) {
        painter->setPen(QPen(ViewColors::accent(), 1.5));
        painter->drawPath(tile);
    }
    const QPixmap picture = index.data(Qt::DecorationRole).value<QPixmap>();
    if (!picture.isNull()) {
        const QSizeF size = picture.deviceIndependentSize();
        painter->drawPixmap(
            QPointF(cell.center().x() - size.width() / 2, cell.center().y() - size.height() / 2), picture);
    }
    painter->restore();
}

QSize SymbolCellDelegate::sizeHint(const QStyleOptionViewItem&, const QModelIndex&) const {
    return QSize(minimumColumn, cellSide);
}

SymbolPickerView::SymbolPickerView(AppModel& model, QWidget* parent)
    : QDialog(parent)
    , model_(model)
    , grid_(new SymbolGridModel(this)) {
    setObjectName(QStringLiteral("symbolPicker"));
    setWindowTitle(QStringLiteral("Symbols"));
    setWindowModality(Qt::WindowModal);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(960, 580);

    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    column->setSpacing(0);
    column->addWidget(makeHeader());
    column->addWidget(divider(Qt::Horizontal, this));

    pages_ = new QStackedWidget(this);
    pages_->setObjectName(QStringLiteral("symbolPickerPages"));
    pages_->setAccessibleName(QStringLiteral("Symbols"));
    auto* loading = new QWidget(pages_);
    loading->setObjectName(QStringLiteral("loadingSymbols"));
    auto* loadingColumn = new QVBoxLayout(loading);
    loadingColumn->addStretch();
    auto* spinner = new QProgressBar(loading);
    spinner->setRange(0, 0);
    spinner->setTextVisible(false);
    spinner->setMaximumWidth(160);
    spinner->setAccessibleName(QStringLiteral("Loading symbols…"));
    auto* loadingLabel = new QLabel(QStringLiteral("Loading symbols…"), loading);
    TextStyle::secondary(loadingLabel);
    loadingColumn->addWidget(spinner, 0, Qt::AlignHCenter);
    loadingColumn->addWidget(loadingLabel, 0, Qt::AlignHCenter);
    loadingColumn->addStretch();
    pages_->addWidget(loading);
    pages_->addWidget(makeContent());
    column->addWidget(pages_, 1);

    selection_ = model_.editor().symbolName;
    connect(&model_, &AppModel::editorChanged, this, [this] {
        if (model_.editor().symbolName != selection_) {
            selection_ = model_.editor().symbolName;
            showSelection();
        }
    });
    connect(&model_, &AppModel::symbolCatalogChanged, this, [this] {
        if (model_.symbolCatalog() && !catalog_)
            setCatalog(*model_.symbolCatalog());
    });
    if (model_.symbolCatalog())
        setCatalog(*model_.symbolCatalog());
    showSelection();
}

QWidget* SymbolPickerView::makeHeader() {
    auto* header = new QWidget(this);
    auto* row = new QHBoxLayout(header);
    row->setContentsMargins(12, 12, 12, 12);
    row->setSpacing(12);
    headerImage_ = new QLabel(header);
    headerImage_->setObjectName(QStringLiteral("pickerHeaderImage"));
    headerImage_->setFixedWidth(28);
    headerImage_->setAlignment(Qt::AlignCenter);
    search_ = new QLineEdit(header);
    search_->setObjectName(QStringLiteral("symbolSearch"));
    search_->setPlaceholderText(QStringLiteral("Search symbols"));
    search_->setAccessibleName(QStringLiteral("Search symbols"));
    search_->setClearButtonEnabled(true);
    done_ = new QPushButton(QStringLiteral("Done"), header);
    done_->setObjectName(QStringLiteral("symbolPickerDone"));
    done_->setDefault(true);
    row->addWidget(headerImage_);
    row->addWidget(search_, 1);
    row->addWidget(done_);
    // Only the user's own typing searches; the field is never set from outside.
    connect(search_, &QLineEdit::textChanged, this, [this](const QString& text) {
        query_ = text;
        refreshGrid();
    });
    connect(done_, &QPushButton::clicked, this, &QDialog::accept);
    return header;
}

QWidget* SymbolPickerView::makeContent() {
    auto* content = new QWidget(pages_);
    content->setObjectName(QStringLiteral("symbolBrowser"));
    auto* row = new QHBoxLayout(content);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(0);

    categories_ = new QListWidget(content);
    categories_->setObjectName(QStringLiteral("symbolCategories"));
    categories_->setAccessibleName(QStringLiteral("Categories"));
    categories_->setFixedWidth(190);
    categories_->setFrameShape(QFrame::NoFrame);
    connect(categories_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
        if (!item)
            return;
        category_ = item->data(Qt::UserRole).toString();
        refreshGrid();
    });

    auto* gridArea = new QWidget(content);
    gridArea->setMinimumWidth(360);
    auto* gridStack = new QGridLayout(gridArea);
    gridStack->setContentsMargins(0, 0, 0, 0);
    gridView_ = new QListView(gridArea);
    gridView_->setObjectName(QStringLiteral("symbolGrid"));
    gridView_->setAccessibleName(QStringLiteral("Symbols"));
    gridView_->setViewMode(QListView::IconMode);
    gridView_->setUniformItemSizes(true);
    gridView_->setMovement(QListView::Static);
    gridView_->setResizeMode(QListView::Adjust);
    gridView_->setWrapping(true);
    gridView_->setSelectionMode(QAbstractItemView::NoSelection);
    gridView_->setGridSize(QSize(minimumColumn + columnGap, cellSide + 8));
    gridView_->setFrameShape(QFrame::NoFrame);
    gridView_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    gridView_->setContentsMargins(12, 12, 12, 12);
    gridView_->setModel(grid_);
    gridView_->setItemDelegate(new SymbolCellDelegate(gridView_));
    connect(gridView_, &QListView::clicked, this,
            [this](const QModelIndex& index) { pick(index.data(SymbolGridModel::targetRole).toString()); });
    gridView_->installEventFilter(this);
    emptyState_ = new QWidget(gridArea);
    emptyState_->setObjectName(QStringLiteral("noSymbolsState"));
    auto* emptyColumn = new QVBoxLayout(emptyState_);
    auto* magnifier = new QLabel(emptyState_);
    magnifier->setPixmap(systemImage(QStringLiteral("magnifyingglass"), ViewColors::secondary(), 32));
    emptyTitle_ = new QLabel(emptyState_);
    emptyTitle_->setObjectName(QStringLiteral("noSymbolsMatch"));
    emptyTitle_->setTextFormat(Qt::PlainText);
    QFont title = emptyTitle_->font();
    title.setBold(true);
    emptyTitle_->setFont(title);
    emptyColumn->addWidget(magnifier, 0, Qt::AlignHCenter);
    emptyColumn->addWidget(emptyTitle_, 0, Qt::AlignHCenter);
    emptyState_->hide();
    gridStack->addWidget(gridView_, 0, 0);
    gridStack->addWidget(emptyState_, 0, 0, Qt::AlignCenter);

    auto* inspectorScroll = new QScrollArea(content);
    inspectorScroll->setObjectName(QStringLiteral("symbolInspector"));
    inspectorScroll->setAccessibleName(QStringLiteral("Symbol details"));
    inspectorScroll->setFixedWidth(250);
    inspectorScroll->setFrameShape(QFrame::NoFrame);
    inspectorScroll->setWidgetResizable(true);
    inspectorScroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    inspectorScroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    inspectorScroll->setWidget(makeInspector());

    row->addWidget(categories_);
    row->addWidget(divider(Qt::Vertical, content));
    row->addWidget(gridArea, 1);
    row->addWidget(divider(Qt::Vertical, content));
    row->addWidget(inspectorScroll);
    return content;
}

QWidget* SymbolPickerView::makeInspector() {
    auto* inspector = new QWidget;
    auto* column = new QVBoxLayout(inspector);
    column->setContentsMargins(14, 14, 14, 14);
    column->setSpacing(14);

    bigImage_ = new QLabel(inspector);
    bigImage_->setObjectName(QStringLiteral("inspectorImage"));
    bigImage_->setMinimumHeight(92);
    bigImage_->setAlignment(Qt::AlignCenter);
    QColor tile = ViewColors::secondary();
    tile.setAlphaF(tile.alphaF() * 0.08);
    bigImage_->setStyleSheet(
        QStringLiteral("QLabel { background: %1; border-radius: 10px; }").arg(tile.name(QColor::HexArgb)));
    column->addWidget(bigImage_);

    auto* varietySection = new QWidget(inspector);
    auto* varietyColumn = new QVBoxLayout(varietySection);
    varietyColumn->setContentsMargins(0, 0, 0, 0);
    varietyColumn->setSpacing(6);
    auto* varietyTitle = new QLabel(QStringLiteral("Varieties"), varietySection);
    TextStyle::caption(varietyTitle);
    varieties_ = new SymbolVarietyPicker(3, varietySection);
    varietyColumn->addWidget(varietyTitle);
    varietyColumn->addWidget(varieties_);
    connect(varieties_, &SymbolVarietyPicker::symbolClicked, this, &SymbolPickerView::pick);
    column->addWidget(varietySection);

    auto* names = new QWidget(inspector);
    auto* nameColumn = new QVBoxLayout(names);
    nameColumn->setContentsMargins(0, 0, 0, 0);
    nameColumn->setSpacing(4);
    displayName_ = new QLabel(names);
    displayName_->setObjectName(QStringLiteral("inspectorDisplayName"));
    displayName_->setWordWrap(true);
    QFont headline = displayName_->font();
    headline.setBold(true);
    displayName_->setFont(headline);
    rawName_ = new QLabel(names);
    rawName_->setObjectName(QStringLiteral("inspectorRawName"));
    rawName_->setWordWrap(true);
    rawName_->setTextInteractionFlags(Qt::TextSelectableByMouse);
    TextStyle::caption(rawName_);
    QFont monospaced = rawName_->font();
    monospaced.setFamily(QStringLiteral("monospace"));
    monospaced.setStyleHint(QFont::Monospace);
    rawName_->setFont(monospaced);
    auto* copy = new QPushButton(systemIcon(QStringLiteral("doc.on.doc"), ViewColors::accent(), 12),
                                 QStringLiteral("Copy name"), names);
    copy->setObjectName(QStringLiteral("copySymbolName"));
    copy->setFlat(true);
    copy->setAutoDefault(false);
    copy->setCursor(Qt::PointingHandCursor);
    QPalette link = copy->palette();
    link.setColor(QPalette::ButtonText, ViewColors::accent());
    copy->setPalette(link);
    connect(copy, &QPushButton::clicked, this, [this] {
        QClipboard* clipboard = QGuiApplication::clipboard();
        clipboard->clear();
        clipboard->setText(selection_);
    });
    nameColumn->addWidget(displayName_);
    nameColumn->addWidget(rawName_);
    nameColumn->addWidget(copy, 0, Qt::AlignLeft);
    column->addWidget(names);

    since_ = detail(QStringLiteral("Since"), QStringLiteral("detailSince"), inspector);
    categoryDetail_ = detail(QStringLiteral("Categories"), QStringLiteral("detailCategories"), inspector);
    keywordDetail_ = detail(QStringLiteral("Keywords"), QStringLiteral("detailKeywords"), inspector);
    column->addWidget(since_);
    column->addWidget(categoryDetail_);
    column->addWidget(keywordDetail_);
    column->addStretch();
    return inspector;
}

void SymbolPickerView::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!catalog_)
        startLoading();
}

bool SymbolPickerView::eventFilter(QObject* watched, QEvent* event) {
    if (watched == gridView_ && event->type() == QEvent::KeyPress) {
        const auto* key = static_cast<QKeyEvent*>(event);
        const QModelIndex focused = gridView_->currentIndex();
        if (key->key() == Qt::Key_Space && key->modifiers() == Qt::NoModifier && focused.isValid()) {
            pick(focused.data(SymbolGridModel::targetRole).toString());
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

// The catalog is read once per process, so a later opening gets it at once; the app model's own load may
// finish first, and whichever arrives first is used.
void SymbolPickerView::startLoading() {
    if (loading_ || !model_.loadSymbolCatalog)
        return;
    loading_ = true;
    host::runInBackground(model_.loadSymbolCatalog,
                          [guard = QPointer<SymbolPickerView>(this)](const SymbolCatalog::Catalog& catalog) {
                              if (guard && !guard->catalog_)
                                  guard->setCatalog(catalog);
                          });
}

void SymbolPickerView::setCatalog(const SymbolCatalog::Catalog& catalog) {
    catalog_ = catalog;
    grid_->setCatalog(&*catalog_);
    varieties_->setCatalog(catalog_);
    fillCategories();
    refreshGrid();
    showSelection();
    pages_->setCurrentIndex(1);
}

void SymbolPickerView::fillCategories() {
    const QSignalBlocker blocker(categories_);
    categories_->clear();
    const QColor tint = textColor(categories_);
    auto* all =
        new QListWidgetItem(systemIcon(QStringLiteral("square.grid.2x2"), tint), QStringLiteral("All"));
    all->setData(Qt::UserRole, allCategory);
    categories_->addItem(all);
    for (const SymbolCategory& category : catalog_->categories) {
        auto* item = new QListWidgetItem(systemIcon(category.icon, tint), category.title());
        item->setData(Qt::UserRole, category.key);
        categories_->addItem(item);
    }
    categories_->setCurrentRow(0);
    category_ = allCategory;
}

void SymbolPickerView::refreshGrid() {
    if (!catalog_)
        return;
    const std::optional<QString> filter =
        category_ == allCategory ? std::nullopt : std::optional<QString>(category_);
    const QStringList names = catalog_->search(query_, filter);
    grid_->setNames(names);
    emptyTitle_->setText(QStringLiteral("No symbols match “") + query_ + QStringLiteral("”"));
    emptyState_->setVisible(names.isEmpty());
}

void SymbolPickerView::pick(const QString& name) {
    if (name.isEmpty())
        return;
    selection_ = name;
    showSelection();
    EditorState edited = model_.editor();
    edited.symbolName = name;
    model_.setEditor(edited);
}

void SymbolPickerView::showSelection() {
    const QColor tint = textColor(this);
    headerImage_->setPixmap(systemImage(selection_, tint, 22));
    headerImage_->setAccessibleName(SymbolCatalog::displayName(selection_));
    bigImage_->setPixmap(systemImage(selection_, tint, 68));
    grid_->setSelection(selection_);
    varieties_->setSymbolName(selection_);
    displayName_->setText(SymbolCatalog::displayName(selection_));
    rawName_->setText(selection_);
    setDetail(since_, catalog_ ? catalog_->availability(selection_).value_or(QString()) : QString());
    setDetail(categoryDetail_,
              catalog_ ? catalog_->categoryTitles(selection_).join(QStringLiteral(", ")) : QString());
    setDetail(keywordDetail_, keywords(selection_).join(QStringLiteral(", ")));
}

void SymbolPickerView::setDetail(QWidget* detail, const QString& value) {
    auto* label = detail->findChild<QLabel*>(detail->objectName() + QStringLiteral("Value"));
    label->setText(value);
    detail->setVisible(!value.isEmpty());
}

QStringList SymbolPickerView::keywords(const QString& name) const {
    if (!catalog_)
        return {};
    QStringList words = catalog_->searchTerms.value(name);
    const auto counterpart = catalog_->isFilled(name) ? catalog_->unfilled(name) : catalog_->filled(name);
    if (counterpart)
        words += catalog_->searchTerms.value(*counterpart);
    QStringList unique;
    for (const QString& word : words)
        if (!unique.contains(word))
            unique.append(word);
    std::sort(unique.begin(), unique.end());
    return unique;
}
