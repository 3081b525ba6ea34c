#pragma once

#include <QDialog>

class AppModel;

// The sheet that offers to import apps built by the former scripts.
class MigrationView : public QDialog {
    Q_OBJECT

public:
    explicit MigrationView(AppModel& model, QWidget* parent = nullptr);
};
