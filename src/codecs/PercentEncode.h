#pragma once
#include <QString>

// Reads value as the body of a double-quoted ECMAScript string literal (its
// backslash escapes take effect) and encodes the result as encodeURIComponent
// does. User text is never evaluated. A double quote, a trailing lone
// backslash or a lone surrogate is encoded literally instead of failing.
QString percentEncode(const QString& value);
