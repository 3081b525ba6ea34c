// A bundle's "Contents/Info.plist" in either form: the property list parses or is refused; a proxy app's
// keys (current and former prefixes) give its config, which reads back unchanged from the keys it writes;
// the URL schemes and document types give the desktop's MIME types.

#include "FuzzSupport.h"

#include "CorvaneCore/ProxyApps/AppConfig.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/PropertyList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<QVariant> plist = host::parsePropertyList(fuzz::bytes(data, size));
    if (!plist || plist->typeId() != QMetaType::QVariantMap)
        return 0;
    const QVariantMap info = plist->toMap();
    if (const std::optional<StubConfig> config = StubConfig::fromPlist(info))
        fuzz::requireSameFromPlistKeys(*config);
    for (const QString& type : host::bundleMimeTypes(info))
        fuzz::require(!type.isEmpty(), "every MIME type of a bundle names one");
    return 0;
}
