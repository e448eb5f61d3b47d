#include "cli/TerminalOperator.h"

#include "platform/Errors.h"
#include "platform/Signals.h"

#include <QTextStream>

#include <unistd.h>

namespace {

void put(std::FILE *f, const QString &text) {
    const QByteArray b = text.toLocal8Bit();
    std::fwrite(b.constData(), 1, size_t(b.size()), f);
    std::fflush(f);
}

} // namespace

TerminalOperator::TerminalOperator(std::FILE *out, std::FILE *err, bool assumeYes)
    : m_out(out), m_err(err), m_assumeYes(assumeYes), m_tty(isatty(fileno(out)) == 1) {}

QString TerminalOperator::lines(const QString &text) {
    QString t = text;
    t.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    t.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return t + QLatin1Char('\n');
}

void TerminalOperator::endProgressLine() {
    if (m_progressShown) {
        put(m_out, QStringLiteral("\n"));
        m_progressShown = false;
    }
}

void TerminalOperator::message(Box kind, const QString &text) {
    endProgressLine();
    m_errorShown = m_errorShown || kind == Box::Error;
    put(kind == Box::Error ? m_err : m_out, lines(text));
}

void TerminalOperator::error(const QString &text) {
    endProgressLine();
    put(m_err, lines(text));
}

bool TerminalOperator::confirm(const QString &text) {
    if (m_assumeYes)
        return true;
    if (!isatty(fileno(stdin)))
        return false;
    put(m_out, text + QStringLiteral(" [t/N] "));
    QTextStream in(stdin);
    const QString answer = in.readLine().trimmed().toLower();
    return answer == QLatin1String("t") || answer == QLatin1String("tak") || answer == QLatin1String("y");
}

void TerminalOperator::setStage(Activity, const QString &text) {
    endProgressLine();
    m_status = text;
    if (!text.isEmpty())
        put(m_out, text + QLatin1Char('\n'));
}

void TerminalOperator::stopOnSignal() {
    if (m_stopped || !Signals::received())
        return;
    m_stopped = true;
    throw QkError(
        QStringLiteral("Przerwano sygnałem %1.").arg(QLatin1String(Signals::name(Signals::received()))));
}

void TerminalOperator::setActivity(Activity, int value) {
    stopOnSignal();
    if (value == 0) {
        m_rows = 0;
        m_lastDraw.start();
        return;
    }
    ++m_rows; // one step per row (the closing 100 counts once more; the figure is a progress sign)
    if (!m_tty)
        return;
    if (m_lastDraw.isValid() && m_lastDraw.elapsed() < 200)
        return;
    m_lastDraw.restart();
    put(m_out, QStringLiteral("\r  %1 wierszy").arg(m_rows));
    m_progressShown = true;
}

void TerminalOperator::appendLine(Log, const QString &line) {
    endProgressLine();
    put(m_out, line + QLatin1Char('\n'));
    stopOnSignal();
}
