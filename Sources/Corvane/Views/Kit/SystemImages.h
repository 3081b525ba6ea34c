#pragma once

#include <QColor>
#include <QIcon>
#include <QPixmap>
#include <QString>

class QWidget;

// The colour roles the window's marks and lines are drawn in.
namespace ViewColors {
QColor red();       // errors
QColor green();     // finished actions
QColor orange();    // warnings, something the user must fix
QColor blue();      // something that can be updated
QColor accent();    // chosen tiles, prominent buttons
QColor secondary(); // hints, counts, absent values
} // namespace ViewColors

// System images by their symbol names, drawn by the icon renderer's symbol provider and tinted in one colour.
// An unknown name gives a null pixmap (and an empty icon).
QPixmap systemImage(const QString& name, const QColor& tint, int points);
QIcon systemIcon(const QString& name, const QColor& tint, int points = 16);
// The tint of plain text in `widget` (for images that stand beside a label).
QColor textColor(const QWidget* widget);
bool canDrawSystemImage(const QString& name);
