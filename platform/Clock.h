#pragma once

#include <QDateTime>

// The workstation clock, with a seam for tests ("today", the archive stamp).
namespace Clock {

QDateTime now();
// An invalid value returns to the real clock.
void setOverride(const QDateTime &fixed);

} // namespace Clock
