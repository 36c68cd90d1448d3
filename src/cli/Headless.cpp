#include "cli/Headless.h"

#include <unistd.h>
#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <memory>
#include <optional>

#include "app/TaskWindow.h"
#include "cli/HeadlessOutput.h"
#include "platform/Clock.h"
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
// How long the end of a run waits for its webhooks.
constexpr int kNotificationWaitMs = 10000;

const char* const kUsage =
    "Usage:\n"
    "  zembrin                                        open the task window\n"
    "  zembrin register TASKFILE [--settings INI] [--json]\n"
    "                                                 send one registration request\n"
    "  zembrin catch TASKFILE [--settings INI] [--at \"YYYY-MM-DD HH:MM:SS\"] [--json]\n"
    "                                                 catch: watch WHOIS first when the settings\n"
    "                                                 say so, else send at the task's rate;\n"
    "                                                 --at arms a timed start\n"
    "  zembrin --help | --version\n"
    "Settings come from INI, by default zembrin.ini beside the program or, when that\n"
    "folder is not the user's to write, $XDG_CONFIG_HOME/zembrin/zembrin.ini.\n"
    "Sent data is printed on stdout as [sent] lines, replies as [returned] lines, and each\n"
    "WHOIS-triggered registration as a [catch] line with its timings; status, notices and\n"
    "messages go to stderr as [status] and [message] lines. A line break inside an entry\n"
    "starts a new prefixed line, and control characters other than tab are written escaped\n"
    "(\\x1b). Each run ends with a line on stderr:\n"
    "  [summary] sent=N replies=M http_errors=E failures=K late=L catches=C\n"
    "  (sent: on the wire; replies: answered with any HTTP status; http_errors: status 400\n"
    "  or more; failures: no HTTP answer or timed out; late: paced or triggered requests\n"
    "  on the wire more than 2 ms after their due time; catches: WHOIS-triggered\n"
    "  registrations; warm-ups are not counted).\n"
    "--json prints every event as one JSON object per line on stdout instead, with \"type\"\n"
    "(sent, returned, status, message, catch, summary), \"time\" (ISO 8601 with\n"
    "milliseconds) and the event's own fields: \"text\" for sent, returned, status and\n"
    "message; domain, deleted_at, on_wire_ms, reply_ms, http_status and reply for a catch;\n"
    "sent, replies, http_errors, failures, late and catches for a summary. stderr then\n"
    "holds only fatal errors; the exit status is the same.\n"
    "SIGINT/SIGTERM stops the run; a second one ends at once.\n"
    "Exit status: 0 run ended (register: the registrar answered 2xx), 2 task refused or\n"
    "task file unreadable, 3 register answered with another HTTP status, 4 register got\n"
    "no HTTP answer (time-out, refused, certificate), 64 usage error.\n";

void writeErr(const QString& text) {
  const QByteArray bytes = text.toUtf8();
  std::fwrite(bytes.constData(), 1, bytes.size(), stderr);
}

class HeadlessPrompter : public Prompter {
 public:
  explicit HeadlessPrompter(HeadlessOutput& output) : output_(output) {}
  void showMessage(const QString& text, const QString&, MessageIcon) override {
    output_.message(text);
  }
  bool askYesNo(const QString& text, const QString&, MessageIcon,
                const std::function<void()>&) override {
    output_.question(text);
    return false;
  }
  QString openFileName(const QString&) override { return {}; }
  QString saveFileName(const QString&) override { return {}; }

 private:
  HeadlessOutput& output_;
};

// SIGINT/SIGTERM: the first acts as the stop button (delivered through a pipe
// into the event loop), the second ends the process at once.
int signalPipe[2] = {-1, -1};
std::atomic<int> signalsSeen{0};
static_assert(std::atomic<int>::is_always_lock_free,
              "signal handlers may use only lock-free atomics");

void onSignal(int) {
  if (signalsSeen.fetch_add(1) > 0) ::_exit(130);
  const char byte = 1;
  [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

struct Arguments {
  QString command, taskFile, settingsPath, at;
  bool json = false;
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
    } else if (a == QLatin1String("--json")) {
      out.json = true;
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
  const QDateTime t = platform::parseLocalDateTime(at);
  if (!t.isValid()) return false;
  const int parts[] = {t.date().year(), t.date().month(),  t.date().day(),
                       t.time().hour(), t.time().minute(), t.time().second()};
  const Ctl boxes[] = {Ctl::year1, Ctl::month1, Ctl::day1, Ctl::hour1, Ctl::minute1, Ctl::second1};
  for (int i = 0; i < 6; ++i) view.setText(boxes[i], QString::number(parts[i]));
  return true;
}

bool runActive(const TaskWindow& w) {
  return w.int_start() == 1 || w.Timer1.isActive() || w.Timer2.isActive() || w.Timer3.isActive() ||
         w.Timer4.isActive();
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

// --help, --version and usage errors answer without a run: their exit
// status. Otherwise the arguments are read into `a`.
std::optional<int> answerWithoutRun(const QStringList& args, Arguments& a) {
  if (args.value(0) == QLatin1String("--help") || args.value(0) == QLatin1String("-h")) {
    std::fputs(kUsage, stdout);
    return kExitDone;
  }
  if (args.value(0) == QLatin1String("--version")) {
    std::printf("zembrin %d.%d.%d\n", ZEMBRIN_VERSION_MAJOR, ZEMBRIN_VERSION_MINOR,
                ZEMBRIN_VERSION_PATCH);
    return kExitDone;
  }
  QString error;
  if (args.value(0) != QLatin1String("register") && args.value(0) != QLatin1String("catch")) {
    error = QStringLiteral("unknown command: ") + args.value(0);
  } else {
    parseArguments(args, a, error);
  }
  if (error.isEmpty()) return std::nullopt;
  writeErr(QStringLiteral("zembrin: ") + error + QStringLiteral("\n"));
  std::fputs(kUsage, stderr);
  return kExitUsage;
}

// SIGINT/SIGTERM: the first, read from the pipe in the event loop, presses
// the stop (or the timed start's cancel).
std::unique_ptr<QSocketNotifier> stopOnSignals(TaskWindow& w, HeadlessOutput& view) {
  if (::pipe(signalPipe) != 0) return nullptr;
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  auto notifier = std::make_unique<QSocketNotifier>(signalPipe[0], QSocketNotifier::Read);
  QObject::connect(notifier.get(), &QSocketNotifier::activated, [&w, &view] {
    char byte;
    [[maybe_unused]] const ssize_t n = ::read(signalPipe[0], &byte, 1);
    view.notice(QStringLiteral("stopping"));
    if (w.Timer1.isActive())
      w.time_end_Click();
    else
      w.regstop_Click();
  });
  return notifier;
}

// Starts the run the command asks for; false when the task was refused.
bool startRun(TaskWindow& w, const Arguments& a) {
  if (a.command == QLatin1String("register")) return w.startNormalRegistration();
  if (!a.at.isEmpty()) {
    w.time_start_Click();
    return w.timer_start == 1;
  }
  return w.startCatch();
}

// Requests already sent finish before the process ends (up to the time-out);
// the run's summary comes once they have, then the notifications it led to.
void finishRun(TaskWindow& w, HeadlessOutput& view, bool started,
               std::optional<RunSummary>& summary) {
  waitForRequestsInFlight(view.text(Ctl::time_out).toInt() * 1000);
  if (started && !summary) {
    platform::EventWait wait;
    wait.wakeOn(&w.events, &RunEvents::runEnded);
    wait.run([&summary] { return summary.has_value(); }, 2000);
  }
  if (started && !summary) view.summary(runSummary(w));
  QCoreApplication::sendPostedEvents();
  w.report.waitForNotifications(kNotificationWaitMs);
  w.report.flush();
  view.finish();
}

// A catch that ran ends with 0; a registration by the registrar's answer.
int exitStatus(const Arguments& a, const RunSummary& s) {
  if (a.command != QLatin1String("register")) return kExitDone;
  if (s.lastStatus >= 200 && s.lastStatus < 300) return kExitDone;
  return s.lastStatus > 0 ? kExitHttpError : kExitNoAnswer;
}

}  // namespace

bool wantsHeadless(int argc, char** argv) { return argc > 1 && argv[1] && argv[1][0] != '\0'; }

int runHeadless(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  Arguments a;
  if (const std::optional<int> status = answerWithoutRun(app.arguments().mid(1), a)) return *status;

  Settings settings;
  SettingsDialogState dialogState;
  const QString settingsPath = a.settingsPath.isEmpty() ? defaultSettingsPath() : a.settingsPath;
  loadSettings(settingsPath, settings, dialogState);

  HeadlessOutput view(stdout, stderr, a.json, ::isatty(STDERR_FILENO) == 1);
  HeadlessPrompter prompter(view);
  TaskWindow w(view, prompter, settings, dialogState, settingsPath);
  view.attach(w);
  w.Form_Load();

  QString readError;
  if (!readTaskFile(w, a.taskFile, &readError)) {
    view.message(readError);
    view.finish();
    return kExitRefused;
  }
  const std::unique_ptr<QSocketNotifier> stopNotifier = stopOnSignals(w, view);

  // Before the start: a normal registration may end inside it.
  std::optional<RunSummary> summary;
  QObject::connect(&w.events, &RunEvents::runEnded,
                   [&summary](const RunSummary& s) { summary = s; });
  if (!a.at.isEmpty() && !fillTimedStart(view, a.at)) {
    view.message(texts::kBadDateTime);
    view.finish();
    return kExitRefused;
  }
  const bool started = startRun(w, a);
  if (started) waitForRunEnd(w);
  finishRun(w, view, started, summary);
  if (!started) return kExitRefused;
  return exitStatus(a, summary.value_or(runSummary(w)));
}
