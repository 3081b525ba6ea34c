#include "CorvaneHost/Linux/UnavailableScriptRunner.h"

#include "CorvaneHost/Services.h"

namespace host {

ScriptRunner& scriptRunner() {
    return ensureService(services().scriptRunner, [] { return std::make_shared<UnavailableScriptRunner>(); });
}

namespace {

class UnavailableScript final : public Script {
public:
    std::optional<QVariantMap> execute() override {
        // -1708: the target does not understand the message, which is what a browser without scripting says.
        return QVariantMap{
            {kScriptErrorNumber, qint64(-1708)},
            {kScriptErrorMessage, QStringLiteral("browser scripting is not available on this machine")}};
    }
};

} // namespace

std::unique_ptr<Script> UnavailableScriptRunner::compile(const QString&) {
    return std::make_unique<UnavailableScript>();
}

} // namespace host
