#pragma once

#include <QDialog>
#include <QMap>

class AppModel;
class QCheckBox;
class QComboBox;
class QPushButton;
class QVBoxLayout;

// The sheet that offers to import apps built by the former scripts: one row per app with its tick and the
// Chrome profile it should open. Ticks and choices go straight into the app model.
class MigrationView : public QDialog {
    Q_OBJECT

public:
    explicit MigrationView(AppModel& model, QWidget* parent = nullptr);

    // Closing the sheet any other way than with its buttons (Escape too) leaves the offer open for the next
    // start.
    void reject() override;

private:
    struct Row {
        QCheckBox* tick;
        QComboBox* profile;
    };

    void rebuildRows();
    void refresh();
    void notNow();
    void import();

    AppModel& model_;
    QVBoxLayout* rowsColumn_;
    QWidget* rowsBox_ = nullptr;
    QStringList shownApps_;
    QMap<QString, Row> rows_;
    QPushButton* importButton_;
};
