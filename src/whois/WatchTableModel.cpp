#include "whois/WatchTableModel.h"

#include <QDateTime>

namespace {

QString localTime(qint64 msSinceEpoch, const QString& format) {
  return QDateTime::fromMSecsSinceEpoch(msSinceEpoch).toString(format);
}

// The start of a registrar's reply, on one line.
QString replyStart(const QString& reply) {
  QString line = reply.simplified();
  if (line.size() > 80) line = line.left(79) + QChar(0x2026);
  return line;
}

}  // namespace

WatchTableModel::WatchTableModel(WhoisMonitor& monitor, RunEvents& events, QObject* parent)
    : QAbstractTableModel(parent), monitor_(monitor) {
  refresh_.setInterval(kRefreshMs);
  connect(&refresh_, &QTimer::timeout, this, &WatchTableModel::refresh);
  connect(&monitor_, &WhoisMonitor::watchBuilt, this, [this] {
    rebuild();
    refresh_.start();
  });
  connect(&monitor_, &WhoisMonitor::watchEnded, this, [this] {
    refresh();
    refresh_.stop();
  });
  connect(&events, &RunEvents::caught, this, &WatchTableModel::onCaught);
  rebuild();
}

void WatchTableModel::rebuild() {
  beginResetModel();
  rows_ = static_cast<int>(monitor_.whois_watch.size());
  monitor_.takeChangedRows();
  rowOfDomain_.clear();
  registrations_.clear();
  caughtRows_.clear();
  endResetModel();
}

void WatchTableModel::refresh() {
  QList<int> changed = monitor_.takeChangedRows();
  for (int r : std::as_const(caughtRows_)) changed << r;
  caughtRows_.clear();
  if (changed.isEmpty() || rows_ == 0) return;
  int first = rows_, last = -1;
  for (int r : std::as_const(changed)) {
    if (r < 0 || r >= rows_) continue;
    first = std::min(first, r);
    last = std::max(last, r);
  }
  if (last >= first) emit dataChanged(index(first, 0), index(last, ColumnCount - 1));
}

void WatchTableModel::onCaught(const CatchReport& report) {
  if (rowOfDomain_.isEmpty()) {
    const QStringList& domains = monitor_.domains();
    for (int i = std::min<int>(rows_, static_cast<int>(domains.size())) - 1; i >= 0; --i)
      rowOfDomain_.insert(domains[i], i);
  }
  const auto it = rowOfDomain_.constFind(report.domain);
  if (it == rowOfDomain_.cend()) return;
  Registration& r = registrations_[*it];
  r.onWireUs =
      report.onWireMs >= 0 ? report.deletedAtUs + static_cast<qint64>(report.onWireMs * 1000) : -1;
  r.reply = report.httpStatus > 0
                ? replyStart(report.reply)
                : replyStart(report.reply.isEmpty() ? QStringLiteral("无返回") : report.reply);
  caughtRows_.insert(*it);
}

int WatchTableModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : rows_;
}

int WatchTableModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : ColumnCount;
}

QString WatchTableModel::stateText(whois::WatchState state) {
  using S = whois::WatchState;
  switch (state) {
    case S::NoServer:
      return QStringLiteral("无对应Whois服务器");
    case S::Watching:
      return QStringLiteral("监视中");
    case S::Registering:
      return QStringLiteral("已删除，开始抢注");
    case S::GivenUp:
      return QStringLiteral("已被注册，放弃注册");
    case S::NotDeleted:
      return QStringLiteral("还未删除");
    case S::Unclear:
      return QStringLiteral("状态不明");
    case S::Limited:
      return QStringLiteral("查询受限");
    case S::NoConnection:
      return QStringLiteral("连接超时");
  }
  return {};
}

QVariant WatchTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || index.row() >= rows_ || index.row() >= monitor_.whois_watch.size())
    return {};
  const WatchRow& row = monitor_.whois_watch[index.row()];
  const Registration reg = registrations_.value(index.row());
  const bool display = role == Qt::DisplayRole;
  const bool sort = role == SortRole;
  if (role == Qt::TextAlignmentRole) {
    const bool number = index.column() == Queries || index.column() == ReplyMs;
    return QVariant::fromValue(Qt::Alignment(number ? Qt::AlignRight : Qt::AlignLeft) |
                               Qt::AlignVCenter);
  }
  if (!display && !sort) return {};
  switch (index.column()) {
    case Domain:
      return monitor_.domains().value(index.row());
    case Server:
      if (row.serverRow < 0) return QString();
      return row.rdap ? row.server : row.server + u':' + row.port.trimmed();
    case State:
      if (sort) return static_cast<int>(row.shown);
      return stateText(row.shown);
    case LastQuery:
      if (sort) return row.lastQueryAtMs;
      return row.lastQueryAtMs < 0 ? QString()
                                   : localTime(row.lastQueryAtMs, QStringLiteral("MM-dd HH:mm:ss"));
    case Expiry:
      if (sort) return row.expiry;
      return row.expiry.isValid() ? row.expiry.toString(Qt::ISODate) : QString();
    case Queries:
      return row.queries;
    case ReplyMs:
      if (sort) return row.lastReplyMs;
      return row.lastReplyMs < 0 ? QString() : QString::number(row.lastReplyMs, 'f', 1);
    case SentAt:
      if (sort) return reg.onWireUs;
      return reg.onWireUs < 0 ? QString()
                              : localTime(reg.onWireUs / 1000, QStringLiteral("HH:mm:ss.zzz"));
    case RegistrarReply:
      return reg.reply;
    default:
      return {};
  }
}

QVariant WatchTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal) return {};
  static const char16_t* const titles[ColumnCount] = {u"域名",       u"Whois服务器", u"状态",
                                                      u"最后查询",   u"到期日期",    u"查询次数",
                                                      u"响应(毫秒)", u"抢注发出",    u"注册商返回"};
  return section >= 0 && section < ColumnCount ? QString::fromUtf16(titles[section]) : QVariant();
}
