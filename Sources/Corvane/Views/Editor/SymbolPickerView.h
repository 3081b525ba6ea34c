#pragma once

#include "CorvaneIcon/SymbolCatalog.h"

#include <QAbstractListModel>
#include <QDialog>
#include <QHash>
#include <QPixmap>
#include <QStyledItemDelegate>
#include <optional>

class AppModel;
class QLabel;
class QLineEdit;
class QListView;
class QListWidget;
class QPushButton;
class QStackedWidget;
class SymbolVarietyPicker;

// The symbols the grid lists (a search result, in its order). Each row stands for its filled form where there
// is one; its picture is drawn on first use and kept.
class SymbolGridModel : public QAbstractListModel {
    Q_OBJECT

public:
    enum Role { targetRole = Qt::UserRole, isSelectedRole };

    explicit SymbolGridModel(QObject* parent = nullptr);

    void setCatalog(const SymbolCatalog::Catalog* catalog);
    // Replaces the listed names (every search and category change).
    void setNames(const QStringList& names);
    const QStringList& names() const { return names_; }
    // The chosen symbol; only the rows it highlights or stops highlighting change.
    void setSelection(const QString& name);
    // The name a row stands for: the filled form of the listed name where there is one.
    QString target(const QString& listed) const;
    bool isSelected(const QString& listed) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;

private:
    void refreshRowsOf(const QString& selection);

    const SymbolCatalog::Catalog* catalog_ = nullptr;
    QStringList names_;
    QHash<QString, int> rowOf_;
    QString selection_;
    mutable QHash<QString, QPixmap> pictures_;
};

// A grid cell: the symbol on a rounded tile, tinted when it is the chosen one.
class SymbolCellDelegate : public QStyledItemDelegate {
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;
    void paint(QPainter* painter, const QStyleOptionViewItem& option,
               const QModelIndex& index) const override;
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override;
};

// The sheet in which the user chooses the symbol of the edited proxy app's icon: categories, a searchable
// grid and an inspector. Every pick goes straight into the editor; "Done" only closes the sheet.
class SymbolPickerView : public QDialog {
    Q_OBJECT

public:
    static inline const QString allCategory = QStringLiteral("__all");

    explicit SymbolPickerView(AppModel& model, QWidget* parent = nullptr);

    bool hasCatalog() const { return catalog_.has_value(); }
    // The names the grid lists now.
    const QStringList& listedNames() const { return grid_->names(); }
    // The keywords the inspector shows for a symbol: its own and its fill partner's, each once, sorted.
    QStringList keywords(const QString& name) const;

protected:
    void showEvent(QShowEvent* event) override;
    // Space chooses the grid's focused cell (Return stays with "Done").
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QWidget* makeHeader();
    QWidget* makeContent();
    QWidget* makeInspector();
    void startLoading();
    void setCatalog(const SymbolCatalog::Catalog& catalog);
    void fillCategories();
    void refreshGrid();
    void showSelection();
    void pick(const QString& name);
    void setDetail(QWidget* detail, const QString& value);

    AppModel& model_;
    std::optional<SymbolCatalog::Catalog> catalog_;
    QString query_;
    QString category_ = allCategory;
    QString selection_;
    bool loading_ = false;

    SymbolGridModel* grid_;
    QLabel* headerImage_;
    QLineEdit* search_;
    QPushButton* done_;
    QStackedWidget* pages_;
    QListWidget* categories_;
    QListView* gridView_;
    QWidget* emptyState_;
    QLabel* emptyTitle_;
    QLabel* bigImage_;
    SymbolVarietyPicker* varieties_;
    QLabel* displayName_;
    QLabel* rawName_;
    QWidget* since_;
    QWidget* categoryDetail_;
    QWidget* keywordDetail_;
};
