#include "platform/Clock.h"

namespace {
QDateTime &fixedNow() {
    static QDateTime t;
    return t;
}
} // namespace

QDateTime Clock::now() {
    return fixedNow().isValid() ? fixedNow() : QDateTime::currentDateTime();
}

void Clock::setOverride(const QDateTime &fixed) {
    fixedNow() = fixed;
}
