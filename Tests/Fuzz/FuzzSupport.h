#pragma once

#include "CorvaneCore/ProxyApps/AppConfig.h"

#include <QByteArray>
#include <QString>
#include <cstddef>
#include <cstdint>

// What the fuzz targets share. Each target is one libFuzzer entry function over one reader of input that
// comes from outside the program; the replay test runs the same functions over the kept inputs.
namespace fuzz {

// The input as bytes (a copy: libFuzzer's buffer is only valid during the call).
QByteArray bytes(const uint8_t* data, size_t size);

// Ends the run with a message when a promise that holds for every input is broken, so that the fuzzer keeps
// the input that broke it.
void require(bool holds, const char* promise);

// Requires that the Info.plist keys of `config` read back as the same config. They carry the own-window flag
// only for a tab group (without one it is not written and reads as true).
void requireSameFromPlistKeys(const StubConfig& config);

// Points HOME and the XDG folders at a fresh temporary folder, once per process, so the readers of the
// desktop's and the product's files see only what a target writes there.
void useScratchHome();

// Replaces the file at `path` with `bytes`, making its folder first.
void writeFile(const QString& path, const QByteArray& bytes);

} // namespace fuzz
