// Stored password values edited by hand, and the scrambling round trip.
#include "db/Errors.h"
#include "users/PasswordHistory.h"
#include "users/PasswordRules.h"

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    try {
        HexCodesToText(text);
        UnscramblePassword(text, kHistoryKey);
    } catch (const QkError &) {
    }
    if (UnscramblePassword(ScramblePassword(text, kHistoryKey), kHistoryKey) != TrimPassword(text))
        std::abort();
    if (HexCodesToText(TextToHexCodes(text)) != text)
        std::abort();
    PasswordRuleFailures(text, text.left(3), text.mid(3), QString());
    return 0;
}
