#pragma once
#include <QList>
#include <QString>

#include "settings/Settings.h"

// The row index a domain is served by (first match wins), or -1.
int matchServerRow(const QList<ServerRow>& rows, const QString& domain);

// A server line split at "|||" into a row; nullopt-like empty row with ok=false
// when it yields fewer than six pieces. Pieces seven to nine are optional.
ServerRow serverRowFromLine(const QString& line, bool* ok);

namespace whois {

// A server row's port field as a TCP port, or -1 when it is not a whole
// number from 0 to 65535 (digits only; spaces around it are allowed).
int portNumber(const QString& field);

// A server field beginning with http:// or https:// is the base URL of an
// RDAP service; its row's port and marker fields are not used.
bool isRdapServer(const QString& server);

// How the queries of a row are paced. Without fields 7 and 8 (or with a rate
// of 0) one query runs at a time, across all such rows; with them up to
// `parallel` queries of the row are in flight and at most `rate` start in
// any second.
struct QueryPace {
  bool valid = true;  // false: field 7 or 8 holds something else
  double rate = 0;
  int parallel = 1;
  bool isParallel() const { return rate > 0; }
};
QueryPace queryPace(const ServerRow& row);

// What a server is known by when it limits us: its address and port, or the
// scheme, host and port of an RDAP base. Rows naming the same server share
// its back-off.
QString serverKey(const ServerRow& row);

}  // namespace whois
