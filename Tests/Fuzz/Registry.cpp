// "registry.json", the list of generated proxy apps: it loads as a registry (an unreadable file as an empty
// one), and what loads is saved and loaded back as the same file. (An app without a creation date takes the
// time of the load, which the file keeps to the second.)

#include "FuzzSupport.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneCore/ProxyApps/Registry.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::useScratchHome();
    static const QString path = Corvane::registryURL();
    fuzz::writeFile(path, fuzz::bytes(data, size));
    const Registry registry = Registry::load();
    (void)registry.searchDirectories();
    const QByteArray saved = JSONEncoder::corvane().encode(registry.toJson());
    fuzz::writeFile(path, saved);
    fuzz::require(JSONEncoder::corvane().encode(Registry::load().toJson()) == saved,
                  "a loaded registry is saved and loaded back as the same file");
    return 0;
}
