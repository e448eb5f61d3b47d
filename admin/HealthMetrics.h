#pragma once

#include "admin/Health.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>

// Health in the text format monitoring already reads (the node exporter's textfile collector and
// Prometheus): one sample per check and per measured fact, each labelled with the company.
namespace HealthMetrics {

// The samples of one company: its six findings' states (0 OK ... 3 UNKNOWN) and the facts behind them.
// facts is null when the database could not be reached: then one check "baza" is UNKNOWN.
struct Company {
    QString name;
    const Health::Facts *facts = nullptr;
    QList<Health::Finding> findings;
};

// The exposition text of the companies: # HELP and # TYPE once per metric, label values escaped.
QByteArray exposition(const QList<Company> &companies);

// One exposition of several made separately (one per company): each metric's # HELP and # TYPE once,
// its samples together, as the format requires.
QByteArray merge(const QList<QByteArray> &expositions);

// "a\"b" for a"b: backslash, double quote and line feed escaped as the format requires.
QString escapeLabel(const QString &value);

// The samples of an exposition text, by metric name with its labels as written ("m{a=\"b\"}"), for
// reading back; comments and blank lines left out, a malformed line ignored.
QHash<QString, double> parse(const QByteArray &text);

} // namespace HealthMetrics
