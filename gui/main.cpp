// qkadmin: the administration window over the QK accounting database.
#include "backup/RestoreWorker.h"
#include "core/MainD.h"
#include "db/Errors.h"
#include "db/FbClient.h"
#include "gui/MainF.h"
#include "platform/Paths.h"
#include "platform/Signals.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLibraryInfo>
#include <QLineEdit>
#include <QLocale>
#include <QSocketNotifier>
#include <QTabWidget>
#include <QTimer>
#include <QTranslator>

#include <cstdio>
#include <memory>
#include <unistd.h>

namespace {

// Writes one PNG per tab into dir, boxes going to standard error instead of the screen; the export tab
// shows month 12.
int takeScreenshots(TMainForm &form, const QString &dir) {
    QDir().mkpath(dir);
    QCoreApplication::processEvents();
    form.FormActivate();
    int failures = 0;
    for (int i = 0; i < form.PageControl1->count(); ++i) {
        form.PageControl1->setCurrentIndex(i);
        if (form.PageControl1->widget(i) == form.TabSheet2) { // December: the month name that was cut
            form.Edit5->setText(QStringLiteral("12"));
            form.Edit6->setText(QStringLiteral("12"));
        }
        QCoreApplication::processEvents();
        const QString file = QStringLiteral("%1/%2-%3.png")
                                 .arg(dir)
                                 .arg(i + 1, 2, 10, QLatin1Char('0'))
                                 .arg(form.PageControl1->widget(i)->objectName());
        if (!form.grab().save(file))
            ++failures;
        else
            std::printf("%s\n", qPrintable(file));
    }
    return failures == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char **argv) {
    // The embedded engine's restore runs in this same program, started again as a worker.
    if (const int rc = RestoreWorker::runIfAsked(argc, argv); rc >= 0)
        return rc;
    // Before anything can change: from here a signal is the program's, never the client library's
    // (which shut itself down in a thread of its own and left the window running on a dead library).
    const int signalFd = Signals::install();
    QApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qkadmin"));
    QTranslator qtPolish;
    if (qtPolish.load(QLocale(QLocale::Polish, QLocale::Poland), QStringLiteral("qtbase"),
                      QStringLiteral("_"), QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        app.installTranslator(&qtPolish);

    QString screenshotDir;
    const QStringList args = app.arguments();
    const qsizetype at = args.indexOf(QStringLiteral("--screenshots"));
    if (at >= 0) {
        screenshotDir = at + 1 < args.size() ? args[at + 1] : QStringLiteral("screenshots");
        TMainForm::boxDisplay = [](QWidget *, QMessageBox::Icon, const QString &, const QString &text,
                                   QMessageBox::StandardButtons) {
            std::fprintf(stderr, "qkadmin: %s\n", qPrintable(text));
            return QMessageBox::Ok;
        };
    }

    // --settings FILE: one company of an office, its own settings file read and written instead of setup.ini.
    QString settingsFile;
    const qsizetype named = args.indexOf(QStringLiteral("--settings"));
    if (named >= 0 && named + 1 < args.size())
        settingsFile = QFileInfo(args[named + 1]).absoluteFilePath();
    // A logout, kill or Ctrl-C closes the window as its close does; one during start-up closes its box,
    // and the window as soon as it is there.
    TMainForm *shown = nullptr;
    bool pending = false;
    QSocketNotifier signalNotifier(signalFd, QSocketNotifier::Read);
    signalNotifier.setEnabled(signalFd >= 0);
    QObject::connect(&signalNotifier, &QSocketNotifier::activated, &app, [&shown, &pending, signalFd] {
        char bytes[16];
        while (::read(signalFd, bytes, sizeof bytes) > 0) {
        }
        if (shown) {
            shown->closeOnSignal();
        } else {
            pending = true;
            if (QWidget *box = QApplication::activeModalWidget())
                box->close();
        }
    });

    std::unique_ptr<TMainDm> dm;
    try {
        dm = std::make_unique<TMainDm>(Paths::settingsFolder(), settingsFile);
    } catch (const LibraryMissingError &e) {
        TMainForm::showModal(nullptr, QMessageBox::Critical, e.message());
        return 1;
    }
    try {
        dm->DataModuleCreate();
    } catch (const std::exception &e) {
        // Start-up goes on: the window comes up and every activation tries the connection again. What
        // the window's first activation says itself (no database in the folder) is not said twice.
        QString saidByWindow;
        try {
            dm->checkDatabaseFile();
        } catch (const std::exception &missing) {
            saidByWindow = QString::fromUtf8(missing.what());
        }
        if (saidByWindow != QString::fromUtf8(e.what()))
            TMainForm::showModal(nullptr, QMessageBox::Critical, QString::fromUtf8(e.what()));
    }

    // --quit-after-paint: ends once the window has first been painted (the start-up benchmark).
    struct QuitOnPaint : QObject {
        bool eventFilter(QObject *, QEvent *e) override {
            if (e->type() == QEvent::Paint)
                QTimer::singleShot(0, qApp, &QCoreApplication::quit);
            return false;
        }
    } quitOnPaint;

    int rc = 0;
    {
        TMainForm form(*dm);
        shown = &form;
        if (args.contains(QStringLiteral("--quit-after-paint")))
            form.installEventFilter(&quitOnPaint);
        form.show();
        if (pending)
            QTimer::singleShot(0, &form, &TMainForm::closeOnSignal);
        rc = screenshotDir.isEmpty() ? app.exec() : takeScreenshots(form, screenshotDir);
        shown = nullptr;
    }
    // Every attachment ends before the client library's own exit handler runs.
    dm.reset();
    if (Signals::received())
        FbClient::endAfterSignal(rc);
    return rc;
}
