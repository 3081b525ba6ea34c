#pragma once

#include "CorvaneIcon/IconSpec.h"

#include <QPointer>
#include <QWidget>
#include <functional>
#include <optional>
#include <vector>

class AppModel;
class IconPreviewView;
class IconStylePicker;
class QAbstractButton;
class QButtonGroup;
class QColorDialog;
class QLabel;
class QPushButton;
class QToolButton;
class SymbolPickerView;
class SymbolVarietyPicker;
struct EditorState;

// The editor's icon section: the style thumbnails, the symbol with its sheet, the badge colour with its
// presets, the symbol's variety and glyph style, and the live preview. Every control writes into the app
// model's editor (which mirrors the draft); the controls follow the editor in place.
class IconSectionView : public QWidget {
    Q_OBJECT

public:
    struct PresetColor {
        QString name;
        QString hex;
    };
    // The badge presets, in the order the swatches stand.
    static const std::vector<PresetColor>& presetColors();

    explicit IconSectionView(AppModel& model, QWidget* parent = nullptr);

    // The icon the editor describes now.
    IconSpec iconSpec() const;

private:
    QWidget* makeSymbolRow();
    QWidget* makeGlyphStyleRow();
    void refresh();
    void edit(const std::function<void(EditorState&)>& change);
    void openSymbolPicker();
    void openColorDialog();

    AppModel& model_;
    IconStylePicker* stylePicker_;
    QPushButton* glyphButton_;
    QLabel* glyphImage_;
    QLabel* glyphName_;
    QToolButton* colorWell_;
    SymbolVarietyPicker* varieties_;
    QButtonGroup* glyphStyles_;
    IconPreviewView* preview_;
    QPointer<SymbolPickerView> symbolPicker_;
    QPointer<QColorDialog> colorDialog_;
    std::optional<IconColor> shownBadgeColor_;
};
