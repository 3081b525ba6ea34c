#pragma once

#include <QWidget>

class AppModel;

class EditorView : public QWidget {
    Q_OBJECT

public:
    explicit EditorView(AppModel& model, QWidget* parent = nullptr);
};
