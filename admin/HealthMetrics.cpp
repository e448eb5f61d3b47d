#include "admin/HealthMetrics.h"

#include <QStringList>

#include <algorithm>
#include <cmath>
#include <optional>

namespace HealthMetrics {

namespace {

struct Metric {
    const char *name;
    const char *help;
};

const Metric kMetrics[] = {
    {"qkadmin_check_status", "State of one health check: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN."},
    {"qkadmin_backup_age_seconds", "Seconds since bazaqk.abk was written."},
    {"qkadmin_backup_bytes", "Size of bazaqk.abk in bytes."},
    {"qkadmin_lock_flag", "The control row's lock flag: 1 while set ('T'), 0 otherwise."},
    {"qkadmin_transaction_gap", "Transactions between the oldest interesting or active one and the next."},
    {"qkadmin_free_bytes", "Free bytes in the database folder's file system."},
    {"qkadmin_database_bytes", "Size of the database in bytes."},
    {"qkadmin_offsite_age_seconds", "Seconds since the backup held by the newest off-site copy was written."},
    {"qkadmin_offsite_bytes",
     "The newest off-site copy: bytes it added to the repository (kind=\"added\") and bytes of "
     "the files it holds (kind=\"total\")."},
};

QString number(double v) {
    return QString::number(v, 'g', 17);
}

} // namespace

QString escapeLabel(const QString &value) {
    QString out;
    out.reserve(value.size());
    for (const QChar c : value) {
        if (c == QLatin1Char('\\'))
            out += QStringLiteral("\\\\");
        else if (c == QLatin1Char('"'))
            out += QStringLiteral("\\\"");
        else if (c == QLatin1Char('\n'))
            out += QStringLiteral("\\n");
        else
            out += c;
    }
    return out;
}

QByteArray exposition(const QList<Company> &companies) {
    QString out;
    for (const Metric &m : kMetrics) {
        QStringList samples;
        for (const Company &c : companies) {
            const QString company = QStringLiteral("company=\"%1\"").arg(escapeLabel(c.name));
            auto sample = [&](const QString &labels, double v) {
                samples << QStringLiteral("%1{%2} %3").arg(QLatin1String(m.name), labels, number(v));
            };
            const QString name = QLatin1String(m.name);
            if (name == QLatin1String("qkadmin_check_status")) {
                if (!c.facts)
                    sample(company + QStringLiteral(",check=\"baza\""), 3);
                for (const Health::Finding &f : c.findings)
                    sample(company + QStringLiteral(",check=\"%1\"").arg(escapeLabel(f.check)),
                           double(int(f.level)));
                continue;
            }
            if (!c.facts)
                continue;
            const Health::Facts &f = *c.facts;
            if (name == QLatin1String("qkadmin_backup_age_seconds")) {
                if (f.backupWritten)
                    sample(company, double(std::max<qint64>(0, f.backupWritten->secsTo(f.now))));
            } else if (name == QLatin1String("qkadmin_backup_bytes")) {
                if (f.backupWritten)
                    sample(company, double(f.backupBytes));
            } else if (name == QLatin1String("qkadmin_lock_flag")) {
                sample(company, f.flagLocked ? 1 : 0);
            } else if (name == QLatin1String("qkadmin_transaction_gap")) {
                sample(company, double(std::max(f.next - f.oldestInteresting, f.next - f.oldestActive)));
            } else if (name == QLatin1String("qkadmin_free_bytes")) {
                if (f.freeBytes)
                    sample(company, double(*f.freeBytes));
            } else if (name == QLatin1String("qkadmin_database_bytes")) {
                sample(company, double(f.databaseBytes));
            } else if (name == QLatin1String("qkadmin_offsite_age_seconds")) {
                if (f.offsite && f.offsite->newest)
                    sample(company, double(std::max<qint64>(0, f.offsite->newest->secsTo(f.now))));
            } else if (name == QLatin1String("qkadmin_offsite_bytes")) {
                if (f.offsite && f.offsite->added)
                    sample(company + QStringLiteral(",kind=\"added\""), double(*f.offsite->added));
                if (f.offsite && f.offsite->total)
                    sample(company + QStringLiteral(",kind=\"total\""), double(*f.offsite->total));
            }
        }
        if (samples.isEmpty())
            continue;
        out += QStringLiteral("# HELP %1 %2\n# TYPE %1 gauge\n")
                   .arg(QLatin1String(m.name), QLatin1String(m.help));
        out += samples.join(QLatin1Char('\n')) + QLatin1Char('\n');
    }
    return out.toUtf8();
}

QByteArray merge(const QList<QByteArray> &expositions) {
    QByteArray out;
    for (const Metric &m : kMetrics) {
        const QByteArray name(m.name);
        QByteArray samples;
        for (const QByteArray &e : expositions)
            for (const QByteArray &l : e.split('\n'))
                if (l.startsWith(name + '{') || l.startsWith(name + ' '))
                    samples += l + '\n';
        if (samples.isEmpty())
            continue;
        out += "# HELP " + name + ' ' + m.help + "\n# TYPE " + name + " gauge\n" + samples;
    }
    return out;
}

QHash<QString, double> parse(const QByteArray &text) {
    QHash<QString, double> samples;
    for (const QByteArray &raw : text.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        // The value follows the last blank outside the labels.
        const qsizetype close = line.lastIndexOf(QLatin1Char('}'));
        const qsizetype blank = line.indexOf(QLatin1Char(' '), close < 0 ? 0 : close);
        if (blank < 0)
            continue;
        bool ok = false;
        const double v = line.mid(blank + 1).trimmed().toDouble(&ok);
        if (ok)
            samples.insert(line.left(blank), v);
    }
    return samples;
}

} // namespace HealthMetrics
