#pragma once

#include "Corvane/Models/AppModel.h"

#include <QWidget>

class BehaviourSection;
class ElidedLabel;
class FormSection;
class AppStatusBar;
class QComboBox;
class QLabel;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QToolButton;
class TabGroupRows;

// The page of one proxy app or draft: its name, Chrome profile and tab group, behaviour, icon and folder,
// with the save button and the app's menu. It shows the app model's editor and writes every edit back into
// it; what it shows is refreshed in place, so typing is never disturbed by the model's updates.
class EditorView : public QWidget {
    Q_OBJECT

public:
    explicit EditorView(AppModel& model, QWidget* parent = nullptr);

    // The status bar's warning for the current editor, if any.
    static std::optional<QString> warningLine(const AppModel& model);

private:
    QWidget* buildToolbar();
    void buildAppSection(FormSection* section);
    void buildProfileSection(FormSection* section);
    void buildLocationSection(FormSection* section);
    void refresh();
    void refreshApp();
    void refreshProfiles();
    void refreshLocation();
    void refreshToolbar();
    void nameEdited(const QString& text);
    void profileChosen(int index);

    AppModel& model_;

    QPushButton* saveButton_;
    QToolButton* moreButton_;
    QMenu* moreMenu_;
    QLineEdit* nameField_;
    QLabel* nameCaption_;
    QWidget* occupiedWarning_;
    QWidget* updateBanner_;
    QLabel* updateReasons_;
    QPushButton* updateButton_;
    QComboBox* profileMenu_;
    QWidget* noProfilesWarning_;
    TabGroupRows* tabGroupRows_;
    BehaviourSection* behaviour_;
    QLabel* locationIcon_;
    ElidedLabel* location_;
    AppStatusBar* statusBar_;
    QProgressBar* busy_;
};
