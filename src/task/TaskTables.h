#pragma once
#include <QList>
#include <QString>

// One term of the MD5 formula.
struct Md5Row {
  QString term;
  QString value;
  int filled = 0;
  int hash_first = 0;
};

// One "{{{name}}}" placeholder of a template API URL.
struct UrlVar {
  QString name;
  QString value;
};
