#include "platform/Log.h"

#include <QHash>

Q_LOGGING_CATEGORY(lcHttp, "zembrin.http", QtWarningMsg)
Q_LOGGING_CATEGORY(lcWhois, "zembrin.whois", QtWarningMsg)
Q_LOGGING_CATEGORY(lcRun, "zembrin.run", QtWarningMsg)
Q_LOGGING_CATEGORY(lcSettings, "zembrin.settings", QtWarningMsg)

namespace platform {
namespace {

struct Capture {
  const void* owner = nullptr;
  LogSink sink;
  bool installed = false;
  QLoggingCategory::CategoryFilter rulesFilter = nullptr;
  QtMessageHandler nextHandler = nullptr;
  // What the rules enabled per category, as bits of QtMsgType.
  QHash<QByteArray, int> ruleLevels;
};
Capture& capture() {
  static Capture c;
  return c;
}

constexpr QtMsgType kLevels[] = {QtDebugMsg, QtInfoMsg, QtWarningMsg, QtCriticalMsg};

bool isOurs(const char* category) { return category && qstrncmp(category, "zembrin.", 8) == 0; }

void filter(QLoggingCategory* category) {
  Capture& c = capture();
  c.rulesFilter(category);
  if (!isOurs(category->categoryName())) return;
  int levels = 0;
  for (QtMsgType t : kLevels)
    if (category->isEnabled(t)) levels |= 1 << t;
  c.ruleLevels.insert(category->categoryName(), levels);
  if (c.sink)
    for (QtMsgType t : kLevels) category->setEnabled(t, true);
}

void handler(QtMsgType type, const QMessageLogContext& context, const QString& message) {
  Capture& c = capture();
  if (isOurs(context.category)) {
    if (c.sink) c.sink(QString::fromLatin1(context.category), message);
    if (!(c.ruleLevels.value(context.category) & (1 << type))) return;
  }
  c.nextHandler(type, context, message);
}

// Every category is judged again with the sink's wish.
void reapplyFilter() {
  Capture& c = capture();
  if (!c.installed) {
    c.installed = true;
    c.nextHandler = qInstallMessageHandler(handler);
    // The filter in place is learnt first: ours runs at once on install.
    c.rulesFilter = QLoggingCategory::installFilter(nullptr);
  }
  QLoggingCategory::installFilter(filter);
}

}  // namespace

void setLogSink(const void* owner, LogSink sink) {
  Capture& c = capture();
  c.owner = owner;
  c.sink = std::move(sink);
  reapplyFilter();
}

void clearLogSink(const void* owner) {
  Capture& c = capture();
  if (c.owner != owner || !c.sink) return;
  c.owner = nullptr;
  c.sink = nullptr;
  reapplyFilter();
}

}  // namespace platform
