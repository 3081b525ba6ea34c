// A proxy app's "Contents/Resources/config.json", as the launcher reads it at every start: it decodes or is
// refused with the decoder's error, and a decoded config is written and read back unchanged, in the file's
// form and as the Info.plist keys the builder writes beside it.

#include "FuzzSupport.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/ProxyApps/AppConfig.h"

namespace {

std::optional<StubConfig> decode(const QByteArray& bytes) {
    try {
        return StubConfig::fromJson(JSONDecoder().decode(bytes));
    } catch (const host::Error&) {
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<StubConfig> config = decode(fuzz::bytes(data, size));
    if (!config)
        return 0;
    fuzz::require(decode(JSONEncoder::corvane().encode(config->toJson())) == config,
                  "a decoded config is written and read back unchanged");
    fuzz::requireSameFromPlistKeys(*config);
    return 0;
}
