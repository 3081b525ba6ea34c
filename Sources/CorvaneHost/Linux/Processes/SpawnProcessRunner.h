#pragma once

#include "CorvaneHost/ProcessRunner.h"

namespace host {

// This machine's runner: posix_spawn with one pipe for both output streams; no descriptor of this process
// but the three standard ones reaches the tool.
class SpawnProcessRunner final : public ProcessRunner {
public:
    QString run(const QString& executablePath, const QStringList& arguments) override;
};

} // namespace host
