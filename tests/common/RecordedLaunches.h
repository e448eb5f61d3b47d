#pragma once

#include "platform/Archiver.h"

#include <QList>

// Stands in for starting the archiver: records each launch with its completion call, and answers
// whether it "started" as the test says.
struct RecordedLaunches {
    QList<Archiver::Launch> launches;
    QList<Archiver::Finished> finished;
    bool starts = true;

    RecordedLaunches() {
        Archiver::setLauncher([this](const Archiver::Launch &l, Archiver::Finished f) {
            launches << l;
            finished << std::move(f);
            return starts;
        });
    }
    ~RecordedLaunches() { Archiver::setLauncher({}); }
    RecordedLaunches(const RecordedLaunches &) = delete;
    RecordedLaunches &operator=(const RecordedLaunches &) = delete;
};
