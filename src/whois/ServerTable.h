#pragma once
#include <QList>
#include <QString>

#include "settings/Settings.h"

// The row index a domain is served by (first match wins), or -1.
int matchServerRow(const QList<ServerRow>& rows, const QString& domain);

// A server line split at "|||" into a row; nullopt-like empty row with ok=false
// when it yields fewer than six pieces.
ServerRow serverRowFromLine(const QString& line, bool* ok);
