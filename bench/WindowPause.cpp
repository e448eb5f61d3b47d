// The window's event loop during "Kopiowanie Bazy" with its off-site copy: an offscreen window over the
// settings given, a timer every 10 ms, and the longest time between two of its turns while the
// operation runs. Boxes are answered at once (Ok, or Yes) and printed.
//   qkbench_window_pause SETTINGS_FILE
#include "core/MainD.h"
#include "gui/MainF.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <memory>

int main(int argc, char **argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: qkbench_window_pause SETTINGS_FILE\n");
        return 2;
    }
    const QFileInfo settings(QString::fromLocal8Bit(argv[1]));
    TMainForm::boxDisplay = [](QWidget *, QMessageBox::Icon, const QString &, const QString &text,
                               QMessageBox::StandardButtons buttons) {
        std::printf("  box: %s\n", qPrintable(QString(text).replace(QLatin1Char('\r'), QLatin1Char(' '))));
        return (buttons & QMessageBox::Yes) ? QMessageBox::Yes : QMessageBox::Ok;
    };
    auto dm = std::make_unique<TMainDm>(settings.absolutePath(), settings.absoluteFilePath());
    dm->DataModuleCreate();
    qint64 longest = 0, took = 0;
    int turns = 0;
    {
        TMainForm form(*dm);
        form.show();
        form.FormActivate();
        QElapsedTimer clock, sinceTurn;
        QTimer tick;
        tick.setInterval(10);
        QObject::connect(&tick, &QTimer::timeout, [&] {
            longest = std::max(longest, sinceTurn.elapsed());
            sinceTurn.start();
            ++turns;
        });
        clock.start();
        sinceTurn.start();
        tick.start();
        form.BackupBtnClick();
        tick.stop();
        longest = std::max(longest, sinceTurn.elapsed());
        took = clock.elapsed();
    }
    dm->shutDown();
    dm.reset();
    std::printf("  longest pause of the window's event loop: %lld ms (%d turns of a 10 ms timer in %.2f s)\n",
                static_cast<long long>(longest), turns, double(took) / 1000.0);
    return 0;
}
