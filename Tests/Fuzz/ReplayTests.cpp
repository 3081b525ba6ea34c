// Every kept input of every fuzz target runs through the target's entry function again: the seeds, so the
// targets stay in working order, and the inputs that once broke a reader, so each fault stays mended.

#include <QDirIterator>
#include <QFile>
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#define FUZZ_TARGET(name) extern "C" int name##FuzzInput(const uint8_t* data, size_t size);
#include "FuzzTargets.inc"
#undef FUZZ_TARGET

namespace {

struct Target {
    const char* name;
    int (*entry)(const uint8_t* data, size_t size);
};

const std::vector<Target> targets{
#define FUZZ_TARGET(name) {#name, name##FuzzInput},
#include "FuzzTargets.inc"
#undef FUZZ_TARGET
};

// The files under `folder` (none when it does not exist), in a stable order.
QStringList inputsIn(const QString& folder) {
    QStringList files;
    QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        files.append(it.next());
    files.sort();
    return files;
}

class FuzzReplay : public testing::TestWithParam<Target> {};

TEST_P(FuzzReplay, EverySeedAndKeptRegressionRunsCleanly) {
    const QString name = QString::fromLatin1(GetParam().name);
    const QStringList seeds = inputsIn(QStringLiteral(CORVANE_FUZZ_DIR "/Corpus/") + name);
    ASSERT_FALSE(seeds.isEmpty()) << "the target has no seed corpus";
    for (const QString& path : seeds + inputsIn(QStringLiteral(CORVANE_FUZZ_DIR "/Regressions/") + name)) {
        SCOPED_TRACE(path.toStdString());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        // libFuzzer never passes a null pointer, not even for an empty input.
        static const uint8_t empty = 0;
        const auto* data = bytes.isEmpty() ? &empty : reinterpret_cast<const uint8_t*>(bytes.constData());
        EXPECT_EQ(GetParam().entry(data, static_cast<size_t>(bytes.size())), 0);
    }
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, testing::ValuesIn(targets),
                         [](const testing::TestParamInfo<Target>& info) {
                             return std::string(info.param.name);
                         });

} // namespace
