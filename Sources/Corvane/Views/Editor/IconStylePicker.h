#pragma once

#include "CorvaneIcon/IconSpec.h"

#include <QAbstractButton>
#include <QWidget>
#include <functional>
#include <map>

class IconRenderJob;
class IconTile;
class QLabel;

// The three icon styles as clickable thumbnails, each showing the icon the caller describes for its style.
class IconStylePicker : public QWidget {
    Q_OBJECT

public:
    using Style = StubConfig::IconStyle;
    static constexpr double thumbnailSettleDelay = 0.12;

    explicit IconStylePicker(QWidget* parent = nullptr);

    // The highlighted style (the editor's choice).
    void setSelection(Style style);
    Style selection() const { return selection_; }
    // The icon each thumbnail shows; a thumbnail renders again only when its own description changed.
    void setSpecs(const std::function<IconSpec(Style)>& specFor);
    // The image a thumbnail shows; null while it shows its placeholder.
    QImage thumbnailImage(Style style) const;

signals:
    // The user clicked a thumbnail (also the one already chosen).
    void styleClicked(StubConfig::IconStyle style);

private:
    class Thumbnail;
    std::map<Style, Thumbnail*> thumbnails_;
    Style selection_ = Style::Segments;
};

// One style's button: the rendered thumbnail with the selection ring, and the style's title below.
class IconStylePicker::Thumbnail : public QAbstractButton {
    Q_OBJECT

public:
    Thumbnail(Style style, QWidget* parent);
    void setSpec(const IconSpec& iconDescription);
    void setChosen(bool chosen);
    const QImage& image() const { return image_; }
    QSize sizeHint() const override;

protected:
    void paintEvent(QPaintEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    // The checked state follows the editor, not the click.
    void nextCheckState() override {}

private:
    IconRenderJob* job_;
    QImage image_;
    bool chosen_ = false;
};
