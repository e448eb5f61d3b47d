// Profile files: read a hand-made file, write one key, read it back; the value written must come back
// and every other entry must keep its value. Over the file's bytes, as the file functions use them.
#include "platform/IniFile.h"

#include <QSet>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    // Each listing reads the whole text; a few distinct sections cover it without making a run
    // of a thousand-section input quadratic.
    QSet<QString> listed;
    for (const QString &s : IniText::sectionNames(text)) {
        if (listed.size() == 8)
            break;
        if (!listed.contains(s.toCaseFolded())) {
            listed.insert(s.toCaseFolded());
            IniText::sectionLines(text, s);
        }
    }
    const QString before =
        IniText::readString(text, QStringLiteral("Inne"), QStringLiteral("klucz"), QStringLiteral("?"));
    const QString value = QStringLiteral("C:\\Księgowość\\Łódź\\");
    const QByteArray written =
        IniText::writeString(text, QStringLiteral("Ogolne"), QStringLiteral("sciezka"), value);
    if (IniText::readString(written, QStringLiteral("ogolne"), QStringLiteral("SCIEZKA")) != value)
        std::abort();
    if (IniText::readString(written, QStringLiteral("Inne"), QStringLiteral("klucz"), QStringLiteral("?")) !=
        before)
        std::abort();
    return 0;
}
