#include "gui/BusyScope.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QWidget>

BusyScope::BusyScope(QWidget *window, const QList<QWidget *> &controls,
                     std::function<bool(const QString &)> ask)
    : m_window(window), m_ask(std::move(ask)) {
    Supervisor::clearCancel();
    m_focus = QApplication::focusWidget();
    for (QWidget *w : controls)
        if (w && w->isEnabled()) {
            w->setEnabled(false);
            m_disabled << w;
        }
    QApplication::setOverrideCursor(Qt::WaitCursor);
    qApp->installEventFilter(this);
    // Input reaches the filter, which refuses it: nothing waits for the operation's end.
    m_idle.emplace([] { QCoreApplication::processEvents(QEventLoop::AllEvents, 50); });
}

BusyScope::~BusyScope() {
    m_idle.reset();
    qApp->removeEventFilter(this);
    // What arrived during the operation and was refused is gone; the window is the operator's again.
    for (const QPointer<QWidget> &w : m_disabled)
        if (w)
            w->setEnabled(true);
    if (m_focus && m_focus->window() == m_window && m_focus->isEnabled())
        m_focus->setFocus();
    while (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
    Supervisor::clearCancel();
}

QString BusyScope::question(const QString &step) {
    return QStringLiteral("Przerwać %1?\rPrzerwany krok nie zmieni żadnego pliku na tym komputerze.")
        .arg(step);
}

QString BusyScope::stoppedLine(const QString &step) {
    return QStringLiteral(
               "Przerwano na polecenie operatora: %1. Żaden plik na tym komputerze nie został przez "
               "ten krok zmieniony.")
        .arg(step);
}

void BusyScope::offerStop() {
    const QString step = Supervisor::stoppableStep();
    if (m_asking || step.isEmpty())
        return;
    m_asking = true;
    const bool yes = m_ask(question(step));
    m_asking = false;
    // The step may have ended while the question was open: nothing is stopped then.
    if (yes && Supervisor::stoppableStep() == step) {
        Supervisor::cancelRunning();
        m_stopped = step;
    }
}

bool BusyScope::eventFilter(QObject *watched, QEvent *event) {
    auto *w = qobject_cast<QWidget *>(watched);
    if (!w || w->window() != m_window)
        return false; // a box the operation shows takes its answer
    switch (event->type()) {
    case QEvent::KeyPress:
        if (static_cast<QKeyEvent *>(event)->key() == Qt::Key_Escape)
            offerStop();
        return true;
    case QEvent::Close:
        // The window system's close (a programmatic one, after a signal, goes through).
        if (!event->spontaneous())
            return false;
        event->ignore();
        offerStop();
        return true;
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::MouseMove:
    case QEvent::Wheel:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    default:
        return false;
    }
}
