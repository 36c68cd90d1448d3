#include "cli/Headless.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <optional>
#include <cstdio>
#include <unistd.h>

#include "app/MemoryView.h"
#include "app/TaskWindow.h"
#include "codecs/TextRules.h"
#include "platform/EventWait.h"
#include "sending/Senders.h"
#include "settings/SettingsStore.h"
#include "task/TaskFile.h"

namespace {

constexpr int kExitDone = 0;
constexpr int kExitRefused = 2;
constexpr int kExitHttpError = 3;  // register: answered, but not with 2xx
constexpr int kExitNoAnswer = 4;   // register: no HTTP answer (time-out, refused, certificate)
constexpr int kExitUsage = 64;

const char* const kUsage =
    "Usage:\n"
    "  zembrin                                        open the task window\n"
    "  zembrin register TASKFILE [--settings INI]     send one registration request\n"
    "  zembrin catch TASKFILE [--settings INI] [--at \"YYYY-MM-DD HH:MM:SS\"]\n"
    "                                                 catch: watch WHOIS first when the settings\n"
    "                                                 say so, else send at the task's rate;\n"
    "                                                 --at arms a timed start\n"
    "  zembrin --help | --version\n"
    "Settings come from INI, by default zembrin.ini beside the program or, when that\n"
    "folder is not the user's to write, $XDG_CONFIG_HOME/zembrin/zembrin.ini.\n"
    "Sent data is printed on stdout as [sent] lines, replies as [returned] lines;\n"
    "status and messages go to stderr. SIGINT/SIGTERM stops the run; a second one ends at once.\n"
    "Each run ends with a line on stderr:\n"
    "  [summary] sent=N replies=M http_errors=E failures=K late=L\n"
    "  (sent: on the wire; replies: answered with any HTTP status; http_errors: status 400\n"
    "  or more; failures: no HTTP answer or timed out; late: paced or triggered requests\n"
    "  on the wire more than 2 ms after their due time; warm-ups are not counted).\n"
    "Exit status: 0 run ended (register: the registrar answered 2xx), 2 task refused or\n"
    "task file unreadable, 3 register answered with another HTTP status, 4 register got\n"
    "no HTTP answer (time-out, refused, certificate), 64 usage error.\n";

void writeErr(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, bytes.size(), stderr);
}

// The window as values, printing the logs and the status as they change.
// Output is buffered and flushed from the event loop, so nothing is written to
// a terminal between a deletion reply and the request going out.
class HeadlessView : public MemoryView {
 public:
  HeadlessView() {
    statusTimer_.setSingleShot(true);
    QObject::connect(&statusTimer_, &QTimer::timeout, [this] { printStatus(); });
    flushTimer_.setSingleShot(true);
    QObject::connect(&flushTimer_, &QTimer::timeout, [] { std::fflush(stdout); });
    statusClock_.start();
  }

  void appendText(Ctl c, const QString& text) override {
    MemoryView::appendText(c, text);
    if (c == Ctl::regsend) printEntry("[sent] ", text);
    if (c == Ctl::regresult) printEntry("[returned] ", text);
  }

  void setText(Ctl c, const QString& text) override {
    MemoryView::setText(c, text);
    if (c == Ctl::Label1) statusChanged(text);
    if (c == Ctl::Label_timer && interactive_) liveLine(text);
  }

  void finish() {
    if (statusTimer_.isActive() || !pendingStatus_.isEmpty()) printStatus();
    std::fflush(stdout);
    if (liveShown_) writeErr(QStringLiteral("\n"));
    std::fflush(stderr);
  }

 private:
  void printEntry(const char* prefix, QString entry) {
    while (entry.endsWith(textrules::kCrLf)) entry.chop(2);
    const QByteArray p(prefix);
    for (const QString& line : entry.split(textrules::kCrLf)) {
      const QByteArray bytes = line.toUtf8();
      std::fwrite(p.constData(), 1, p.size(), stdout);
      std::fwrite(bytes.constData(), 1, bytes.size(), stdout);
      std::fputc('\n', stdout);
    }
    if (!flushTimer_.isActive()) flushTimer_.start(0);
  }

  // At most one status line per 100 ms; the latest text wins.
  void statusChanged(const QString& text) {
    pendingStatus_ = text;
    if (statusTimer_.isActive()) return;
    const qint64 since = lastStatus_ < 0 ? 100 : statusClock_.elapsed() - lastStatus_;
    statusTimer_.start(static_cast<int>(std::max<qint64>(0, 100 - since)));
  }

  void printStatus() {
    statusTimer_.stop();
    if (pendingStatus_.isEmpty()) return;
    if (liveShown_) {
      writeErr(QStringLiteral("\n"));
      liveShown_ = false;
    }
    writeErr(QStringLiteral("[status] ") + pendingStatus_ + QStringLiteral("\n"));
    pendingStatus_.clear();
    lastStatus_ = statusClock_.elapsed();
  }

  void liveLine(const QString& text) {
    writeErr(QStringLiteral("\r\x1b[K") + text);
    liveShown_ = true;
  }

  QTimer statusTimer_, flushTimer_;
  QElapsedTimer statusClock_;
  qint64 lastStatus_ = -1;
  QString pendingStatus_;
  bool interactive_ = ::isatty(STDERR_FILENO) == 1;
  bool liveShown_ = false;
};

class HeadlessPrompter : public Prompter {
 public:
  explicit HeadlessPrompter(HeadlessView& view) : view_(view) {}
  void showMessage(const QString& text, const QString&, MessageIcon) override {
    view_.finish();
    writeErr(QStringLiteral("[message] ") + text + QStringLiteral("\n"));
    ++count;
  }
  bool askYesNo(const QString& text, const QString&, MessageIcon) override {
    writeErr(QStringLiteral("[message] ") + text + QStringLiteral(" (no)\n"));
    return false;
  }
  QString openFileName(const QString&) override { return {}; }
  QString saveFileName(const QString&) override { return {}; }
  int count = 0;

 private:
  HeadlessView& view_;
};

// SIGINT/SIGTERM: the first acts as the stop button (delivered through a pipe
// into the event loop), the second ends the process at once.
int signalPipe[2] = {-1, -1};
volatile std::sig_atomic_t signalsSeen = 0;

void onSignal(int) {
  if (++signalsSeen > 1) ::_exit(130);
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

struct Arguments {
  QString command, taskFile, settingsPath, at;
};

bool parseArguments(const QStringList& args, Arguments& out, QString& error) {
  if (args.size() < 2) {
    error = QStringLiteral("missing TASKFILE");
    return false;
  }
  out.command = args[0];
  out.taskFile = args[1];
  for (int i = 2; i < args.size(); ++i) {
    const QString& a = args[i];
    if ((a == QLatin1String("--settings") || a == QLatin1String("--at")) && i + 1 < args.size()) {
      (a == QLatin1String("--settings") ? out.settingsPath : out.at) = args[++i];
    } else {
      error = QStringLiteral("unexpected argument: ") + a;
      return false;
    }
  }
  if (!out.at.isEmpty() && out.command != QLatin1String("catch")) {
    error = QStringLiteral("--at is for catch only");
    return false;
  }
  return true;
}

// --at "YYYY-MM-DD HH:MM:SS" fills the six date boxes of the timed start.
bool fillTimedStart(TaskView& view, const QString& at) {
  static const QRegularExpression form(
      QStringLiteral("^\\s*(\\d+)-(\\d+)-(\\d+)\\s+(\\d+):(\\d+):(\\d+)\\s*$"));
  const QRegularExpressionMatch m = form.match(at);
  if (!m.hasMatch()) return false;
  const Ctl boxes[] = {Ctl::year1, Ctl::month1, Ctl::day1, Ctl::hour1, Ctl::minute1, Ctl::second1};
  for (int i = 0; i < 6; ++i) view.setText(boxes[i], m.captured(i + 1));
  return true;
}

bool runActive(const TaskWindow& w) {
  return w.int_start() == 1 || w.Timer1.isActive() || w.Timer2.isActive() ||
         w.Timer3.isActive() || w.Timer4.isActive();
}

// Blocks in the event loop until the timed start and any timer-driven run
// have ended.
void waitForRunEnd(const TaskWindow& w) {
  QEventLoop loop;
  QTimer check;
  QObject::connect(&check, &QTimer::timeout, &loop, [&] {
    if (!runActive(w)) loop.quit();
  });
  check.start(50);
  if (runActive(w)) loop.exec();
}

}  // namespace

bool wantsHeadless(int argc, char** argv) { return argc > 1 && argv[1] && argv[1][0] != '\0'; }

int runHeadless(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments().mid(1);
  if (args.value(0) == QLatin1String("--help") || args.value(0) == QLatin1String("-h")) {
    std::fputs(kUsage, stdout);
    return kExitDone;
  }
  if (args.value(0) == QLatin1String("--version")) {
    std::printf("zembrin %d.%d.%d\n", ZEMBRIN_VERSION_MAJOR, ZEMBRIN_VERSION_MINOR,
                ZEMBRIN_VERSION_PATCH);
    return kExitDone;
  }
  Arguments a;
  QString error;
  if (args.value(0) != QLatin1String("register") && args.value(0) != QLatin1String("catch")) {
    error = QStringLiteral("unknown command: ") + args.value(0);
  } else {
    parseArguments(args, a, error);
  }
  if (!error.isEmpty()) {
    writeErr(QStringLiteral("zembrin: ") + error + QStringLiteral("\n"));
    std::fputs(kUsage, stderr);
    return kExitUsage;
  }

  Settings settings;
  SettingsDialogState dialogState;
  const QString settingsPath = a.settingsPath.isEmpty() ? defaultSettingsPath() : a.settingsPath;
  loadSettings(settingsPath, settings, dialogState);

  HeadlessView view;
  HeadlessPrompter prompter(view);
  TaskWindow w(view, prompter, settings, dialogState, settingsPath);
  w.Form_Load();

  QString readError;
  if (!readTaskFile(w, a.taskFile, &readError)) {
    writeErr(QStringLiteral("[message] ") + readError + QStringLiteral("\n"));
    return kExitRefused;
  }

  if (::pipe(signalPipe) == 0) {
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
  }
  QSocketNotifier stopNotifier(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(&stopNotifier, &QSocketNotifier::activated, [&] {
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
    writeErr(QStringLiteral("[status] stopping\n"));
    if (w.Timer1.isActive()) w.time_end_Click();
    else w.regstop_Click();
  });

  // Connected before the start: a WHOIS catch runs inside it.
  std::optional<RunSummary> summary;
  QObject::connect(&w.events, &RunEvents::runEnded, [&summary](const RunSummary& s) { summary = s; });
  QObject::connect(&w.events, &RunEvents::notice, [&view](const QString& text) {
    view.finish();
    writeErr(QStringLiteral("[status] ") + text + QStringLiteral("\n"));
  });

  bool started = false;
  if (a.command == QLatin1String("register")) {
    started = w.startNormalRegistration();
  } else if (!a.at.isEmpty()) {
    if (!fillTimedStart(view, a.at)) {
      view.finish();
      writeErr(QStringLiteral("[message] 日期时间有误，请检查！\n"));
      return kExitRefused;
    }
    w.time_start_Click();
    started = w.timer_start == 1;
  } else {
    started = w.startCatch();
  }
  if (started) waitForRunEnd(w);

  // Requests already sent finish before the process ends (up to the time-out);
  // the run's summary comes once they have.
  waitForRequestsInFlight(view.text(Ctl::time_out).toInt() * 1000);
  if (started && !summary) {
    platform::EventWait wait;
    wait.wakeOn(&w.events, &RunEvents::runEnded);
    wait.run([&summary] { return summary.has_value(); }, 2000);
  }
  view.finish();
  if (!started) return kExitRefused;
  const RunSummary s = summary.value_or(runSummary(w));
  writeErr(QStringLiteral("[summary] sent=%1 replies=%2 http_errors=%3 failures=%4 late=%5\n")
               .arg(s.sent)
               .arg(s.replies)
               .arg(s.httpErrors)
               .arg(s.failures)
               .arg(s.late));
  if (a.command != QLatin1String("register")) return kExitDone;
  if (s.lastStatus >= 200 && s.lastStatus < 300) return kExitDone;
  return s.lastStatus > 0 ? kExitHttpError : kExitNoAnswer;
}
