// The health checks' rules on given facts, at their boundaries: no database, no server.
#include "admin/Health.h"

#include <gtest/gtest.h>

#include <functional>

namespace {

using Health::Level;

// A database as a fresh backup leaves it: every check OK.
Health::Facts healthy() {
    Health::Facts f;
    f.now = QDateTime(QDate(2026, 3, 10), QTime(8, 0));
    f.backupFile = QStringLiteral("/srv/qk/bazaqk.abk");
    f.backupWritten = f.now.addSecs(-3600);
    f.backupBytes = 512 * 100;
    f.databaseBytes = 1000;
    f.freeBytes = 2000;
    f.oldestInteresting = 100;
    f.oldestActive = 100;
    f.next = 100;
    return f;
}

Level levelOf(const Health::Facts &f, const QString &check, const Health::Options &o = {}) {
    for (const Health::Finding &finding : Health::evaluate(f, o))
        if (finding.check == check)
            return finding.level;
    ADD_FAILURE() << "no finding " << check.toStdString();
    return Level::Ok;
}

} // namespace

TEST(HealthRules, EveryBoundary) {
    EXPECT_EQ(Health::worst(Health::evaluate(healthy(), {})), Level::Ok);
    struct Case {
        const char *what, *check;
        std::function<void(Health::Facts &)> change;
        Level expected;
    };
    const Case cases[] = {
        // The backup's age in whole hours against --backup-age 26: a warning from 26, critical from 52.
        {"25 h", "kopia", [](Health::Facts &f) { f.backupWritten = f.now.addSecs(-25 * 3600 - 3599); },
         Level::Ok},
        {"26 h", "kopia", [](Health::Facts &f) { f.backupWritten = f.now.addSecs(-26 * 3600); },
         Level::Warning},
        {"51 h", "kopia", [](Health::Facts &f) { f.backupWritten = f.now.addSecs(-51 * 3600 - 3599); },
         Level::Warning},
        {"52 h", "kopia", [](Health::Facts &f) { f.backupWritten = f.now.addSecs(-52 * 3600); },
         Level::Critical},
        {"no backup", "kopia", [](Health::Facts &f) { f.backupWritten.reset(); }, Level::Critical},
        {"cut", "kopia", [](Health::Facts &f) { f.backupDefect = QStringLiteral("obcięta"); },
         Level::Critical},
        // The lock flag: critical only when no backup operation holds the folder.
        {"flag, operation", "blokada", [](Health::Facts &f) { f.flagLocked = f.operationRunning = true; },
         Level::Ok},
        {"flag left", "blokada", [](Health::Facts &f) { f.flagLocked = true; }, Level::Critical},
        {"buffered", "zapis", [](Health::Facts &f) { f.forcedWrites = false; }, Level::Warning},
        {"read-only", "zapis", [](Health::Facts &f) { f.readOnly = true; }, Level::Warning},
        {"online", "zapis", [](Health::Facts &f) { f.shutdownMode = 0; }, Level::Ok},
        {"shut down", "zapis", [](Health::Facts &f) { f.shutdownMode = 1; }, Level::Warning},
        // Free space against the database's size: critical below one size, a warning below two.
        {"2 sizes free", "miejsce", [](Health::Facts &f) { f.freeBytes = 2000; }, Level::Ok},
        {"just under 2", "miejsce", [](Health::Facts &f) { f.freeBytes = 1999; }, Level::Warning},
        {"1 size free", "miejsce", [](Health::Facts &f) { f.freeBytes = 1000; }, Level::Warning},
        {"under 1", "miejsce", [](Health::Facts &f) { f.freeBytes = 999; }, Level::Critical},
        {"unread", "miejsce", [](Health::Facts &f) { f.freeBytes.reset(); }, Level::Unknown},
        // The gap from either oldest transaction to the next, against --gap 100000.
        {"gap 100000", "transakcje", [](Health::Facts &f) { f.next = f.oldestInteresting + 100000; },
         Level::Ok},
        {"OIT gap", "transakcje", [](Health::Facts &f) { f.next = f.oldestInteresting + 100001; },
         Level::Warning},
        {"OAT gap", "transakcje",
         [](Health::Facts &f) {
             f.next = 100101;
             f.oldestInteresting = 100100;
         },
         Level::Warning},
    };
    for (const Case &c : cases) {
        Health::Facts f = healthy();
        c.change(f);
        EXPECT_EQ(levelOf(f, QString::fromLatin1(c.check)), c.expected) << c.what;
    }
    // The limits given on the command line move the boundaries.
    Health::Facts old = healthy();
    old.backupWritten = old.now.addSecs(-24 * 3600);
    EXPECT_EQ(levelOf(old, QStringLiteral("kopia"), {12, 100000}), Level::Critical);
    EXPECT_EQ(levelOf(old, QStringLiteral("kopia"), {24, 100000}), Level::Warning);
    Health::Facts gap = healthy();
    gap.next = gap.oldestInteresting + 21;
    EXPECT_EQ(levelOf(gap, QStringLiteral("transakcje"), {26, 20}), Level::Warning);
}

TEST(HealthRules, WhatIsKnownToBeWrongOutranksWhatCouldNotBeRead) {
    auto of = [](std::initializer_list<Level> levels) {
        QList<Health::Finding> findings;
        for (Level l : levels)
            findings.append({l, QStringLiteral("x"), QString()});
        return Health::worst(findings);
    };
    EXPECT_EQ(of({}), Level::Ok);
    EXPECT_EQ(of({Level::Ok, Level::Warning}), Level::Warning);
    EXPECT_EQ(of({Level::Warning, Level::Unknown}), Level::Unknown);
    EXPECT_EQ(of({Level::Unknown, Level::Critical}), Level::Critical);
    EXPECT_EQ(of({Level::Critical, Level::Unknown, Level::Warning}), Level::Critical);
    EXPECT_EQ(Health::line({Level::Warning, QStringLiteral("zapis"), QStringLiteral("tekst")}),
              QStringLiteral("WARNING zapis: tekst"));
}
