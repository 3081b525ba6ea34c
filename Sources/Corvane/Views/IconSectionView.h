#pragma once

#include <QWidget>

class AppModel;

// The editor's icon section: the live preview, the style, symbol and colour choices.
class IconSectionView : public QWidget {
    Q_OBJECT

public:
    explicit IconSectionView(AppModel& model, QWidget* parent = nullptr);
};
