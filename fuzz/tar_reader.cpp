// The tar stream of an off-site copy's dump (bytes from the remote repository): never more than what was
// given is handed on, a file's bytes never exceed its stated size, and what is found does not depend on
// how the stream arrives (whole, or a few bytes at a time).
#include "platform/TarReader.h"

#include <QList>

#include <algorithm>
#include <cstdint>
#include <cstdlib>

namespace {

struct Found {
    QList<QString> names;
    QList<qint64> sizes, got;
    bool ok = false, complete = false;
};

Found read(const char *data, qsizetype size, qsizetype piece) {
    Found f;
    TarReader r(
        [&](const QString &name, qint64 n) {
            f.names << name;
            f.sizes << n;
            f.got << 0;
            return true;
        },
        [&](const char *, qint64 n) {
            f.got.last() += n;
            if (f.got.last() > f.sizes.last())
                std::abort();
            return true;
        });
    f.ok = true;
    for (qsizetype at = 0; at < size && f.ok; at += piece)
        f.ok = r.feed(data + at, std::min(piece, size - at));
    f.complete = r.complete();
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const char *bytes = reinterpret_cast<const char *>(data);
    const Found whole = read(bytes, qsizetype(size), qsizetype(size) + 1);
    const Found pieces = read(bytes, qsizetype(size), 7);
    if (whole.ok != pieces.ok || whole.complete != pieces.complete || whole.names != pieces.names ||
        whole.got != pieces.got)
        std::abort();
    if (whole.complete && whole.got != whole.sizes)
        std::abort();
    return 0;
}
