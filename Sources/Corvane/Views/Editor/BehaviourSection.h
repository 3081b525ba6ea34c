#pragma once

#include <QWidget>
#include <utility>
#include <vector>

class AppModel;
class QCheckBox;
class QLabel;
struct EditorState;

// The editor's switches for what a proxy app does besides opening its profile. Which switches show depends
// on whether the app opens a tab group or the whole profile; the hidden ones keep their values.
class BehaviourSection : public QWidget {
    Q_OBJECT

public:
    explicit BehaviourSection(AppModel& model, QWidget* parent = nullptr);

    void refresh();

private:
    QCheckBox* addSwitch(const QString& title, const QString& objectName, bool EditorState::*field);
    QLabel* addNote(const QString& text, const QString& objectName);

    AppModel& model_;
    QWidget* groupRows_;
    QWidget* profileRows_;
    QWidget* current_ = nullptr; // where addSwitch and addNote put their rows
    std::vector<std::pair<QCheckBox*, bool EditorState::*>> switches_;
};
