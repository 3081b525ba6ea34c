#include "CorvaneIcon/InterfaceSymbols.h"

const QHash<QString, QString>& interfaceSymbolFiles() {
    static const QHash<QString, QString> files{
        {QStringLiteral("app.dashed"), QStringLiteral("app")},
        {QStringLiteral("arrow.down.forward.app"), QStringLiteral("box-arrow-in-down-right")},
        {QStringLiteral("arrow.triangle.2.circlepath"), QStringLiteral("arrow-repeat")},
        {QStringLiteral("arrow.trianglehead.2.clockwise.rotate.90"), QStringLiteral("arrow-clockwise")},
        {QStringLiteral("arrow.turn.up.right"), QStringLiteral("arrow-90deg-right")},
        {QStringLiteral("arrow.up.circle.fill"), QStringLiteral("arrow-up-circle-fill")},
        {QStringLiteral("arrow.up.forward.app"), QStringLiteral("box-arrow-up-right")},
        {QStringLiteral("checkmark.circle.fill"), QStringLiteral("check-circle-fill")},
        {QStringLiteral("chevron.down"), QStringLiteral("chevron-down")},
        {QStringLiteral("clock.arrow.circlepath"), QStringLiteral("clock-history")},
        {QStringLiteral("doc.on.doc"), QStringLiteral("files")},
        {QStringLiteral("ellipsis.circle"), QStringLiteral("three-dots")},
        {QStringLiteral("exclamationmark.triangle"), QStringLiteral("exclamation-triangle")},
        {QStringLiteral("exclamationmark.triangle.fill"), QStringLiteral("exclamation-triangle-fill")},
        {QStringLiteral("folder"), QStringLiteral("folder")},
        {QStringLiteral("info.circle"), QStringLiteral("info-circle")},
        {QStringLiteral("line.3.horizontal"), QStringLiteral("list")},
        {QStringLiteral("magnifyingglass"), QStringLiteral("search")},
        {QStringLiteral("minus"), QStringLiteral("dash")},
        {QStringLiteral("plus"), QStringLiteral("plus")},
        {QStringLiteral("questionmark.app.dashed"), QStringLiteral("question-square")},
        {QStringLiteral("questionmark.circle.fill"), QStringLiteral("question-circle-fill")},
        {QStringLiteral("questionmark.folder"), QStringLiteral("folder-x")},
        {QStringLiteral("slider.horizontal.3"), QStringLiteral("sliders")},
        {QStringLiteral("square.grid.2x2"), QStringLiteral("grid")},
        {QStringLiteral("xmark.octagon.fill"), QStringLiteral("x-octagon-fill")},
    };
    return files;
}
