#pragma once

#include <QByteArray>
#include <QDateTime>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace test {

// Writes `bytes` to `path` (creating its folder) and gives the file an explicit modification date, so tests
// of reloads never wait for the clock. Fails the current test when the file cannot be written.
void writeFile(const QString& path, const QByteArray& bytes, const QDateTime& modified);
// Gives an existing file an explicit modification date.
void setModified(const QString& path, const QDateTime& modified);
// The file's contents; empty when it cannot be read.
QByteArray contents(const QString& path);
// The file's text; empty when it cannot be read.
QString readText(const QString& path);
// The file's non-empty lines; none when it cannot be read.
QStringList linesOf(const QString& path);
// Makes an application bundle at `bundlePath` with the Info dictionary `info`, whose program (its
// CFBundleExecutable) is the shell script `script`. False when a file of it cannot be written.
bool writeScriptBundle(const QString& bundlePath, const QVariantMap& info, const QString& script);
// An icon file holding one blue PNG picture `side` pixels square under the chunk type `type` ("ic04" for
// 16 pixels, "ic07" for 128), as the builder writes a proxy app's.
QByteArray icnsWithOnePicture(const char* type, int side);

} // namespace test
