#pragma once

#include <QString>

// Text to number as the operator types it; a text that is not a decimal integer raises
// "''<text>'' is not a valid integer value".
int StrToInt(const QString &text);
