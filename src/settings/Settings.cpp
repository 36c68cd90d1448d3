#include "settings/Settings.h"

ServerRow builtinServerRow() {
  return {QStringLiteral(".com,.net"),
          QStringLiteral("whois.verisign-grs.com"),
          QStringLiteral("43"),
          QStringLiteral("No match for"),
          QStringLiteral("Expiration Date: "),
          QString(),
          {},
          {},
          {}};
}

QString builtinServerLine() {
  const ServerRow r = builtinServerRow();
  return QStringList{r.suffixes, r.server, r.port, r.deleted_mark, r.expiry_head, r.expiry_tail}
      .join(QStringLiteral("|||"));
}
