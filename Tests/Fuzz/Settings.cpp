// "settings.json": every key optional, a mistyped one refused with the decoder's error; what decodes is
// saved and read back unchanged.

#include "FuzzSupport.h"

#include "CorvaneCore/Foundation/JSONCoding.h"
#include "CorvaneCore/Routing/AppSettings.h"

namespace {

std::optional<AppSettings> decode(const QByteArray& bytes) {
    try {
        return AppSettings::fromJson(JSONDecoder::corvane().decode(bytes));
    } catch (const host::Error&) {
        return std::nullopt;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::optional<AppSettings> settings = decode(fuzz::bytes(data, size));
    if (settings)
        fuzz::require(decode(JSONEncoder::corvane().encode(settings->toJson())) == settings,
                      "decoded settings are saved and read back unchanged");
    return 0;
}
