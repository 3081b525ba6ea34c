#include "Corvane/Views/Editor/IconSectionView.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Views/Editor/IconPreviewView.h"
#include "Corvane/Views/Editor/IconStylePicker.h"
#include "Corvane/Views/Editor/SymbolPickerView.h"
#include "Corvane/Views/Editor/SymbolVarietyPicker.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QButtonGroup>
#include <QColorDialog>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace {

using SymbolStyle = StubConfig::SymbolStyle;

// A preset's colour; an unreadable text gives black, for the swatch and the badge alike.
IconColor presetColor(const QString& hex) {
    return IconColor::fromHex(hex).value_or(IconColor::rgb(0, 0, 0));
}

QIcon circleSwatch(const QColor& color, int side) {
    QPixmap pixmap(side * 2, side * 2);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(color);
    painter.setPen(QPen(QColor(255, 255, 255, 153), 1));
    painter.drawEllipse(QRectF(0.5, 0.5, side - 1, side - 1));
    return QIcon(pixmap);
}

QIcon wellSwatch(const QColor& color) {
    QPixmap pixmap(2 * 28, 2 * 16);
    pixmap.setDevicePixelRatio(2);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(color);
    painter.setPen(QPen(QColor(0, 0, 0, 60), 1));
    painter.drawRoundedRect(QRectF(0.5, 0.5, 27, 15), 3, 3);
    return QIcon(pixmap);
}

} // namespace

const std::vector<IconSectionView::PresetColor>& IconSectionView::presetColors() {
    static const std::vector<PresetColor> presets{
        {QStringLiteral("Graphite"), QStringLiteral("#1F2124")},
        {QStringLiteral("Purple"), QStringLiteral("#7B1FA2")},
        {QStringLiteral("Blue"), QStringLiteral("#2C6BED")},
        {QStringLiteral("Teal"), QStringLiteral("#0F766E")},
        {QStringLiteral("Green"), QStringLiteral("#16794C")},
        {QStringLiteral("Amber"), QStringLiteral("#B45309")},
        {QStringLiteral("Red"), QStringLiteral("#B3261E")},
        {QStringLiteral("Pink"), QStringLiteral("#A81B60")},
        {QStringLiteral("Indigo"), QStringLiteral("#3F3D9E")},
    };
    return presets;
}

IconSectionView::IconSectionView(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    setObjectName(QStringLiteral("IconSectionView"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);
    auto* section = new FormSection(QStringLiteral("Icon"), this);
    column->addWidget(section);

    stylePicker_ = new IconStylePicker(section);
    section->addRow(stylePicker_);
    section->addRow(makeSymbolRow());
    varieties_ = new SymbolVarietyPicker(4, section);
    section->addRow(QStringLiteral("Variety"), varieties_);
    section->addRow(QStringLiteral("Glyph"), makeGlyphStyleRow());
    preview_ = new IconPreviewView(section);
    auto* previewRow = new QWidget(section);
    auto* previewLayout = new QHBoxLayout(previewRow);
    previewLayout->setContentsMargins(0, 4, 0, 4);
    previewLayout->addWidget(preview_, 1, Qt::AlignLeft);
    section->addRow(previewRow);

    connect(stylePicker_, &IconStylePicker::styleClicked, this, [this](StubConfig::IconStyle style) {
        edit([&](EditorState& state) { state.iconStyle = style; });
    });
    connect(varieties_, &SymbolVarietyPicker::symbolClicked, this,
            [this](const QString& name) { edit([&](EditorState& state) { state.symbolName = name; }); });
    connect(&model_, &AppModel::editorChanged, this, &IconSectionView::refresh);
    connect(&model_, &AppModel::symbolCatalogChanged, this,
            [this] { varieties_->setCatalog(model_.symbolCatalog()); });
    varieties_->setCatalog(model_.symbolCatalog());
    refresh();
}

QWidget* IconSectionView::makeSymbolRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(16);

    glyphButton_ = new QPushButton(row);
    glyphButton_->setObjectName(QStringLiteral("glyphButton"));
    glyphButton_->setAutoDefault(false);
    auto* label = new QHBoxLayout(glyphButton_);
    label->setContentsMargins(8, 2, 8, 2);
    glyphImage_ = new QLabel(glyphButton_);
    glyphName_ = new QLabel(glyphButton_);
    glyphName_->setObjectName(QStringLiteral("glyphName"));
    glyphName_->setMaximumWidth(160);
    auto* chevron = new QLabel(glyphButton_);
    chevron->setPixmap(systemImage(QStringLiteral("chevron.down"), textColor(this), 9));
    for (QLabel* part : {glyphImage_, glyphName_, chevron}) {
        part->setAttribute(Qt::WA_TransparentForMouseEvents);
        label->addWidget(part);
    }
    glyphButton_->setMinimumHeight(28);
    connect(glyphButton_, &QPushButton::clicked, this, &IconSectionView::openSymbolPicker);
    layout->addWidget(glyphButton_);

    colorWell_ = new QToolButton(row);
    colorWell_->setObjectName(QStringLiteral("badgeColorWell"));
    colorWell_->setAccessibleName(QStringLiteral("Badge"));
    colorWell_->setToolTip(QStringLiteral("Badge"));
    colorWell_->setIconSize(QSize(28, 16));
    connect(colorWell_, &QToolButton::clicked, this, &IconSectionView::openColorDialog);
    layout->addWidget(colorWell_);

    for (const PresetColor& preset : presetColors()) {
        auto* swatch = new QToolButton(row);
        swatch->setObjectName(QStringLiteral("swatch:") + preset.hex);
        swatch->setToolTip(preset.name);
        swatch->setAccessibleName(preset.name);
        swatch->setAutoRaise(true);
        swatch->setIconSize(QSize(18, 18));
        swatch->setIcon(circleSwatch(presetColor(preset.hex).toQColor(), 18));
        connect(swatch, &QToolButton::clicked, this, [this, hex = preset.hex] {
            edit([&](EditorState& state) { state.badgeColor = presetColor(hex); });
        });
        layout->addWidget(swatch);
    }
    layout->addStretch();
    return row;
}

QWidget* IconSectionView::makeGlyphStyleRow() {
    auto* row = new QWidget(this);
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    glyphStyles_ = new QButtonGroup(row);
    glyphStyles_->setExclusive(true);
    const std::pair<SymbolStyle, QString> segments[] = {{SymbolStyle::Auto, QStringLiteral("Automatic")},
                                                        {SymbolStyle::Light, QStringLiteral("Light")},
                                                        {SymbolStyle::Dark, QStringLiteral("Dark")}};
    for (const auto& [style, title] : segments) {
        auto* button = new QPushButton(title, row);
        button->setObjectName(QStringLiteral("glyphStyle:") + StubConfig::rawValue(style));
        button->setCheckable(true);
        button->setAutoDefault(false);
        glyphStyles_->addButton(button, int(style));
        layout->addWidget(button);
        connect(button, &QPushButton::clicked, this,
                [this, style = style] { edit([&](EditorState& state) { state.symbolStyle = style; }); });
    }
    layout->addStretch();
    return row;
}

IconSpec IconSectionView::iconSpec() const {
    const EditorState& state = model_.editor();
    return IconSpec(state.symbolName, state.badgeColor, state.symbolStyle, state.iconStyle);
}

void IconSectionView::edit(const std::function<void(EditorState&)>& change) {
    EditorState edited = model_.editor();
    change(edited);
    model_.setEditor(edited);
}

void IconSectionView::refresh() {
    const EditorState& state = model_.editor();
    stylePicker_->setSelection(state.iconStyle);
    stylePicker_->setSpecs([&](StubConfig::IconStyle style) {
        return IconSpec(state.symbolName, state.badgeColor, state.symbolStyle, style);
    });
    // Most edits (a keystroke in the name) leave the icon alone: redraw only what changed.
    if (glyphButton_->toolTip() != state.symbolName) {
        const QString displayName = SymbolCatalog::displayName(state.symbolName);
        glyphImage_->setPixmap(systemImage(state.symbolName, textColor(this), 16));
        Quiet::setText(glyphName_, glyphName_->fontMetrics().elidedText(displayName, Qt::ElideRight, 160));
        glyphButton_->setToolTip(state.symbolName);
        glyphButton_->setAccessibleName(displayName);
        // A push button sizes itself by its own text; this one's label is the row of parts inside it.
        glyphButton_->setMinimumSize(glyphButton_->layout()->sizeHint());
    }
    if (!shownBadgeColor_ || *shownBadgeColor_ != state.badgeColor) {
        shownBadgeColor_ = state.badgeColor;
        colorWell_->setIcon(wellSwatch(state.badgeColor.toQColor()));
    }
    varieties_->setSymbolName(state.symbolName);
    if (QAbstractButton* button = glyphStyles_->button(int(state.symbolStyle)))
        Quiet::setChecked(button, true);
    preview_->setSpec(iconSpec());
}

void IconSectionView::openSymbolPicker() {
    if (symbolPicker_)
        return;
    symbolPicker_ = new SymbolPickerView(model_, this);
    symbolPicker_->open();
}

void IconSectionView::openColorDialog() {
    if (colorDialog_)
        return;
    colorDialog_ = new QColorDialog(model_.editor().badgeColor.toQColor(), this);
    colorDialog_->setObjectName(QStringLiteral("badgeColorDialog"));
    colorDialog_->setWindowTitle(QStringLiteral("Badge"));
    colorDialog_->setAttribute(Qt::WA_DeleteOnClose);
    colorDialog_->setWindowModality(Qt::WindowModal);
    colorDialog_->setOption(QColorDialog::DontUseNativeDialog);
    // The badge follows the colour while the user picks it; Cancel puts the colour it had back.
    const auto setBadge = [this](const IconColor& color) {
        if (model_.editor().badgeColor != color)
            edit([&](EditorState& state) { state.badgeColor = color; });
    };
    // The colour in sRGB; it is saved as its hex text.
    const auto setPicked = [setBadge](const QColor& color) {
        setBadge(IconColor::fromQColor(color.toRgb()));
    };
    connect(colorDialog_, &QColorDialog::currentColorChanged, this, setPicked);
    connect(colorDialog_, &QColorDialog::colorSelected, this, setPicked);
    connect(colorDialog_, &QDialog::rejected, this,
            [setBadge, original = model_.editor().badgeColor] { setBadge(original); });
    colorDialog_->open();
}
