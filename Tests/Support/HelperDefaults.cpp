#include "Support/HelperDefaults.h"

#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"
#include "Support/Eventually.h"

#include <QCoreApplication>
#include <optional>

namespace test {

bool makeInstalledHelperTheDefaultForPages() {
    std::optional<bool> succeeded;
    host::workspace().setDefaultApplicationForContentType(
        Corvane::installedHelperURL(), QStringLiteral("public.html"),
        [&](std::optional<host::SystemError> error) { succeeded = !error.has_value(); });
    const bool answered = eventually([&] {
        QCoreApplication::processEvents();
        return succeeded.has_value();
    });
    return answered && *succeeded;
}

} // namespace test
