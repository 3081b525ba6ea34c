#include "CorvaneStub/StubMain.h"

#include "CorvaneHost/Application.h"
#include "CorvaneHost/Bundle.h"
#include "CorvaneHost/Services.h"
#include "CorvaneStub/StubAppDelegate.h"

namespace StubMain {

int run() {
    host::Application& application = host::application();
    application.setActivationPolicy(host::ActivationPolicy::regular);
    // The application holds its delegate weakly; this keeps it for the life of the process.
    static const std::shared_ptr<StubAppDelegate> delegate =
        StubAppDelegate::fromBundle(host::Bundle::main());
    application.setDelegate(delegate);
    return application.run();
}

} // namespace StubMain
