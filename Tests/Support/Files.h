#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>

namespace test {

// Writes `bytes` to `path` (creating its folder) and gives the file an explicit modification date, so tests
// of reloads never wait for the clock. Fails the current test when the file cannot be written.
void writeFile(const QString& path, const QByteArray& bytes, const QDateTime& modified);
// Gives an existing file an explicit modification date.
void setModified(const QString& path, const QDateTime& modified);
// The file's contents; empty when it cannot be read.
QByteArray contents(const QString& path);

} // namespace test
