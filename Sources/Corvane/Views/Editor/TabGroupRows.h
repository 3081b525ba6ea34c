#pragma once

#include <QWidget>
#include <optional>

class AppModel;
class QComboBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QStackedWidget;
class QToolButton;

// The editor's choice of what a proxy app opens: the whole profile, one of its tab groups as the helper lists
// them, or a group name typed by hand; with the advice line and the search for closed groups.
class TabGroupRows : public QWidget {
    Q_OBJECT

public:
    explicit TabGroupRows(AppModel& model, QWidget* parent = nullptr);

    // A typed or recorded group name that the helper does not list.
    static std::optional<QString> typedGroupName(const AppModel& model);
    static std::optional<QString> advice(const AppModel& model);

    void refresh();

private:
    enum class Scope { profile, group, other };

    void rebuildMenu();
    void scopeChosen(int index);
    void finishNamingGroup();
    void cancelNaming();
    void setNaming(bool naming);

    AppModel& model_;
    QComboBox* menu_;
    QLabel* advice_;
    QStackedWidget* scanStack_;
    QToolButton* scanButton_;
    QWidget* namingRows_;
    QLineEdit* nameField_;
    QPushButton* useNameButton_;
    bool isNamingGroup_ = false;
};
