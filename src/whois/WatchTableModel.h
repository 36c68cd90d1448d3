#pragma once
#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <QTimer>

#include "sending/RunEvents.h"
#include "whois/Monitor.h"

// The watch table as the task window shows it: one row per domain of the
// WHOIS catch, read from the monitor's rows. It is refreshed from the event
// loop at most every kRefreshMs, from the rows the monitor marked changed,
// so the path from a deletion to its request never waits for a view. Sort
// it through a QSortFilterProxyModel on SortRole.
class WatchTableModel : public QAbstractTableModel {
  Q_OBJECT
 public:
  enum Column {
    Domain,
    Server,
    State,
    LastQuery,
    Expiry,
    Queries,
    ReplyMs,
    SentAt,
    RegistrarReply,
    ColumnCount
  };
  static constexpr int SortRole = Qt::UserRole;
  static constexpr int kRefreshMs = 250;

  WatchTableModel(WhoisMonitor& monitor, RunEvents& events, QObject* parent = nullptr);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // Tells the views about every change so far (the timer does this).
  void refresh();

  static QString stateText(whois::WatchState state);

 private:
  struct Registration {
    qint64 onWireUs = -1;  // wall clock
    QString reply;
  };
  void rebuild();
  void onCaught(const CatchReport& report);

  WhoisMonitor& monitor_;
  QTimer refresh_;
  int rows_ = 0;  // as the views know them
  QHash<QString, int> rowOfDomain_;
  QHash<int, Registration> registrations_;
  QSet<int> caughtRows_;  // registrations not yet shown
};
