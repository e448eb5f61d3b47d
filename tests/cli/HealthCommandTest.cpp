// How health --all reads its children and ranks an office, without a process or a database.
#include "cli/HealthCommand.h"
#include "admin/HealthMetrics.h"

#include <gtest/gtest.h>

namespace {

using Health::Level;

QList<Health::Finding> findingsOf(const QList<Level> &levels) {
    static const char *const checks[] = {"kopia", "blokada", "zapis", "miejsce", "transakcje", "serwer"};
    QList<Health::Finding> f;
    for (qsizetype i = 0; i < levels.size(); ++i)
        f.append({levels[i], QString::fromLatin1(checks[i % 6]), QStringLiteral("stan %1").arg(i)});
    return f;
}

// What health --all makes of one company whose check found these: the child prints its findings and
// exits with health's own status, as runOne does.
HealthCommand::Report throughAChild(const QString &name, const QList<Health::Finding> &findings) {
    QStringList lines;
    for (const Health::Finding &f : findings)
        lines << Health::line(f);
    const QByteArray out =
        HealthCommand::childOutput(lines, HealthMetrics::exposition({{name, nullptr, findings}})) +
        "qkadmin-cli: summary command=health result=x exit=0 seconds=0.10\n";
    return HealthCommand::readChild(name, QStringLiteral("/etc/qkadmin/%1.ini").arg(name), out,
                                    int(Health::worst(findings)));
}

} // namespace

TEST(HealthAll, OneCompanyIsWhatHealthSaysOfItForEveryMixOfFindings) {
    const QList<QList<Level>> mixes = {
        {Level::Ok, Level::Ok, Level::Ok},
        {Level::Ok, Level::Warning},
        {Level::Warning, Level::Unknown},
        {Level::Critical, Level::Unknown}, // health says CRITICAL; its number is below UNKNOWN's
        {Level::Unknown, Level::Critical, Level::Warning},
        {Level::Unknown},
        {Level::Critical},
        {Level::Warning, Level::Critical, Level::Ok, Level::Ok, Level::Warning, Level::Ok},
    };
    for (const QList<Level> &mix : mixes) {
        const QList<Health::Finding> findings = findingsOf(mix);
        const Level health = Health::worst(findings);
        const HealthCommand::Report r = throughAChild(QStringLiteral("firma"), findings);
        EXPECT_EQ(r.level, health) << int(health);
        EXPECT_EQ(r.judged, health != Level::Unknown);
        EXPECT_EQ(HealthCommand::officeLevel({r}), health) << int(health);
        EXPECT_EQ(r.lines.size(), findings.size()); // the summary line left out
        EXPECT_EQ(r.lines.first(), Health::line(findings.first()));
        EXPECT_EQ(HealthMetrics::parse(r.metrics).value(
                      "qkadmin_check_status{company=\"firma\",check=\"kopia\"}", -1),
                  int(mix.first()));
    }
}

TEST(HealthAll, AnOfficeCountsACompanyItCannotJudgeAsCritical) {
    const HealthCommand::Report ok = throughAChild("a", findingsOf({Level::Ok})),
                                warning = throughAChild("b", findingsOf({Level::Warning})),
                                critical = throughAChild("c", findingsOf({Level::Critical, Level::Unknown})),
                                unknown = throughAChild("d", findingsOf({Level::Ok, Level::Unknown}));
    EXPECT_EQ(HealthCommand::officeLevel({ok, warning}), Level::Warning);
    EXPECT_EQ(HealthCommand::officeLevel({ok, unknown}), Level::Critical);
    EXPECT_EQ(HealthCommand::officeLevel({warning, critical}), Level::Critical);
    EXPECT_EQ(HealthCommand::officeLevel({unknown, unknown}), Level::Unknown);
    EXPECT_EQ(HealthCommand::officeLevel({}), Level::Unknown);
}

TEST(HealthAll, AChildThatSaidNothingOrDiedIsUnknown) {
    const QByteArray out = HealthCommand::childOutput({QStringLiteral("OK kopia: świeża")}, "m 1\n");
    // A signal, or a status that is no state (a crash, the program's own failure).
    for (int status : {-9, -15, 4, 134}) {
        const HealthCommand::Report r = HealthCommand::readChild("a", "a.ini", out, status);
        EXPECT_EQ(r.level, Level::Unknown) << status;
        EXPECT_FALSE(r.judged);
        EXPECT_EQ(r.lines, QStringList{QStringLiteral("OK kopia: świeża")});
    }
    for (const QByteArray &nothing :
         {QByteArray(), QByteArray("---\n"), QByteArray("qkadmin-cli: summary x\n")}) {
        const HealthCommand::Report r = HealthCommand::readChild("a", "a.ini", nothing, 0);
        EXPECT_FALSE(r.judged);
        EXPECT_EQ(r.lines, QStringList{QStringLiteral("UNKNOWN baza: sprawdzenie nie dało wyniku")});
    }
    const HealthCommand::Report metricsOnly =
        HealthCommand::readChild("a", "a.ini", "UNKNOWN baza: x\n---\nm 3\n", 3);
    EXPECT_EQ(metricsOnly.metrics, QByteArray("m 3\n"));
    EXPECT_EQ(metricsOnly.lines, QStringList{QStringLiteral("UNKNOWN baza: x")});
}

TEST(HealthAll, EachCheckGetsTheLimitsAndTheTimeout) {
    HealthCommand::Request r;
    r.limits = {12, 500};
    r.timeoutSeconds = 30;
    EXPECT_EQ(HealthCommand::childArguments(QStringLiteral("/etc/qkadmin/firma1.ini"), r),
              QStringList({"--settings", "/etc/qkadmin/firma1.ini", "health", "--format", "child",
                           "--backup-age", "12", "--gap", "500", "--timeout", "30"}));
}
