#include "FuzzSupport.h"

#include "Support/TemporaryHome.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <cstdio>
#include <cstdlib>

namespace fuzz {
namespace {

// The targets rewrite their files at every input: on a disk's file system each truncation waits for the
// disk, in memory it does not. True when the temporary folder is in memory.
bool preferTemporaryFilesInMemory() {
    if (qEnvironmentVariableIsEmpty("TMPDIR") && QFileInfo(QStringLiteral("/dev/shm")).isWritable())
        qputenv("TMPDIR", "/dev/shm");
    return qEnvironmentVariable("TMPDIR") == QLatin1String("/dev/shm");
}

} // namespace

QByteArray bytes(const uint8_t* data, size_t size) {
    return QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

void require(bool holds, const char* promise) {
    if (holds)
        return;
    std::fprintf(stderr, "broken promise: %s\n", promise);
    std::abort();
}

void requireSameFromPlistKeys(const StubConfig& config) {
    StubConfig kept = config;
    if (!kept.isTabGroup())
        kept.ownWindow = true;
    require(StubConfig::fromPlist(config.plistEntries()) == kept,
            "a config reads back unchanged from the Info.plist keys it writes");
}

void useScratchHome() {
    static const bool inMemory = preferTemporaryFilesInMemory();
    // Kept until the process ends; its folder goes with it.
    static const test::TemporaryHome home;
    (void)inMemory;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate), "the scratch file can be written");
    require(file.write(bytes) == bytes.size(), "the whole input is written to the scratch file");
}

} // namespace fuzz
