#pragma once

#include "CorvaneHost/ScriptRunner.h"

namespace host {

// This machine has no browser scripting: every script compiles and then fails with an error that says so.
class UnavailableScriptRunner final : public ScriptRunner {
public:
    std::unique_ptr<Script> compile(const QString& source) override;
};

} // namespace host
