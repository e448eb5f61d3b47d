// Database information replies: the user names of the attachments and the SQL dialect.
#include "db/Database.h"
#include "db/DatabaseInfo.h"
#include "db/Errors.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray reply(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        DatabaseInfo::parseUserNames(reply);
    } catch (const LayerError &) {
    }
    const int dialect = Database::parseDialect(reply);
    if (dialect < 1 || dialect > 3)
        std::abort();
    return 0;
}
