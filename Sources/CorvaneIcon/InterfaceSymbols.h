#pragma once

#include <QHash>
#include <QString>

// The images the creator app's window draws besides the catalog's symbols (toolbar buttons, warnings, status
// marks): each name's file in this machine's icon set. They are not offered in the symbol picker.
const QHash<QString, QString>& interfaceSymbolFiles();
