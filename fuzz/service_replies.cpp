// Service manager replies: every parser either accepts the bytes or refuses them with the layer's error.
#include "db/Errors.h"
#include "db/ServiceBlocks.h"

#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    auto guarded = [](auto f) {
        try {
            f();
        } catch (const LayerError &) {
        }
    };
    guarded([&] { Spb::parseLine(reply); });
    guarded([&] { Spb::parseRunning(reply); });
    guarded([&] { Spb::parseServerDbInfo(reply); });
    guarded([&] { Spb::parseServerConfig(reply); });
    guarded([&] { Spb::parseServerVersion(reply); });
    guarded([&] { Spb::parseUsers(reply); });
    return 0;
}
