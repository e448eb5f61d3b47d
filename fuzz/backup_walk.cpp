// The walk of a backup file, of every format it reads: it never reads past what it was given, and what it
// finds does not depend on how the file arrives (whole, or a few bytes at a time).
#include "backup/BackupFormat.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const BackupFormat::Walk whole = BackupFormat::walk(bytes);
    qint64 pos = 0;
    const BackupFormat::Walk pieces = BackupFormat::walk(
        [&](char *buf, qint64 want) {
            const qint64 n = std::min({want, qint64(7), qint64(bytes.size()) - pos});
            std::copy_n(bytes.constData() + pos, n, buf);
            pos += n;
            return n;
        },
        4096);
    if (whole.whole != pieces.whole || whole.stop != pieces.stop ||
        whole.tables.size() != pieces.tables.size())
        std::abort();
    if (whole.fileSize != qint64(size) && whole.stop.isEmpty())
        std::abort();
    if (whole.whole && (whole.endRecordOffset < 0 || whole.endRecordOffset >= whole.fileSize ||
                        whole.fileSize % BackupFormat::kBlock != 0 || !whole.stop.isEmpty()))
        std::abort();
    if (!whole.whole && (whole.stop.isEmpty() || whole.stopOffset > qint64(size)))
        std::abort();
    // Only the formats this server restores walk whole.
    if (whole.whole &&
        (whole.format < BackupFormat::kOldestFormat || whole.format > BackupFormat::kFormatVersion))
        std::abort();
    if (whole.relations != pieces.relations)
        std::abort();
    return 0;
}
