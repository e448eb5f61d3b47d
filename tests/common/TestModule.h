#pragma once

// A data module as start-up leaves it, over a test database: setup.ini in a folder of its own names
// the database folder and the protocol letter.
#include "common/TestDb.h"
#include "core/MainD.h"
#include "platform/IniFile.h"

#include <memory>

struct TestModule {
    QString folder; // the database folder, ending with "/"
    QString settingsFolder = TestDb::newFolder();
    std::unique_ptr<TMainDm> dm;

    explicit TestModule(const QString &databaseFolder = TestDb::createDatabase(),
                        const QString &protocol = QStringLiteral("T"))
        : folder(databaseFolder) {
        QString path = databaseFolder;
        if (path.endsWith(QLatin1Char('/')))
            path.chop(1);
        const QString ini = settingsFolder + QStringLiteral("setup.ini");
        IniFile::writeString(ini, QStringLiteral("Ogolne"), QStringLiteral("sciezka"), path);
        IniFile::writeString(ini, QStringLiteral("Ogolne"), QStringLiteral("serwer"),
                             QStringLiteral("ksiegowosc"));
        IniFile::writeString(ini, QStringLiteral("Ogolne"), QStringLiteral("protokol"), protocol);
        IniFile::writeString(ini, QStringLiteral("Ogolne"), QStringLiteral("cien"),
                             databaseFolder + QStringLiteral("cien"));
        dm = std::make_unique<TMainDm>(settingsFolder);
        dm->DataModuleCreate();
    }
    // Ends the start-up transaction, as the window's first activation does.
    TestModule &started() {
        if (dm->EmployeeTran.active())
            dm->EmployeeTran.commit();
        return *this;
    }
    // One value or one statement on a connection of their own.
    QString value(const QString &sql) const { return TestDb::scalar(folder, sql).trimmed(); }
    void exec(const QString &sql) const { TestDb::exec(folder, sql); }
};
