// Chrome's "Local State", which Chrome rewrites whenever it likes: the profile list is read without ever
// failing, and every profile it gives has the names a window title can carry.

#include "FuzzSupport.h"

#include "CorvaneCore/ProxyApps/ChromeProfiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::useScratchHome();
    static const QString path = ChromeProfiles::localStateURL();
    fuzz::writeFile(path, fuzz::bytes(data, size));
    for (const ChromeProfile& profile : ChromeProfiles::load()) {
        (void)profile.subtitle();
        (void)profile.titleIdentities();
    }
    return 0;
}
