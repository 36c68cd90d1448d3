#pragma once
#include <QString>

// MD5 (RFC 1321) of the text's code-page-936 bytes, taken one UTF-16 code
// unit at a time; 32 lower-case hex digits.
QString md5(const QString& text);
