// Profile files: read a hand-made file, write one key, read it back; the value written must come back
// and every other entry must keep its value.
#include "db/Errors.h"
#include "platform/IniFile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    static QTemporaryDir dir;
    const QString file = dir.path() + QStringLiteral("/setup.ini");
    {
        QFile f(file);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            std::abort();
        f.write(reinterpret_cast<const char *>(data), qint64(size));
    }
    const QStringList sections = IniFile::sectionNames(file);
    for (const QString &s : sections)
        IniFile::sectionLines(file, s);
    const QString before = IniFile::readString(file, QStringLiteral("Inne"), QStringLiteral("klucz"), QStringLiteral("?"));
    const QString value = QStringLiteral("C:\\Księgowość\\Łódź\\");
    IniFile::writeString(file, QStringLiteral("Ogolne"), QStringLiteral("sciezka"), value);
    if (IniFile::readString(file, QStringLiteral("ogolne"), QStringLiteral("SCIEZKA")) != value)
        std::abort();
    if (IniFile::readString(file, QStringLiteral("Inne"), QStringLiteral("klucz"), QStringLiteral("?")) != before)
        std::abort();
    return 0;
}
