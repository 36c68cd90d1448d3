#include "app/TaskWindow.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QSocketNotifier>
#include <utility>

#include "sending/Senders.h"
#include "task/TaskFile.h"
#include "whois/Monitor.h"

TaskWindow::TaskWindow(TaskView& taskView, Prompter& taskPrompter, Settings& programSettings,
                       SettingsDialogState& dialogState, QString iniPath)
    : WatchContext(taskView, taskPrompter, programSettings),
      settingsDialog(dialogState),
      settingsPath(std::move(iniPath)),
      report(programSettings, settingsPath, events) {
  // Precise: a coarse timer may fire up to 5% early, which would count whole
  // seconds wrongly and end runs early.
  for (QTimer* t : {&Timer1, &Timer2, &Timer3, &Timer4, &Timer5, &Timer6})
    t->setTimerType(Qt::PreciseTimer);
  Timer1.setInterval(1000);
  Timer3.setInterval(1000);
  Timer4.setInterval(200);
  Timer5.setInterval(1000);
  Timer6.setInterval(1000);
  connect(&Timer1, &QTimer::timeout, this, &TaskWindow::Timer1_Timer);
  connect(&Timer2, &QTimer::timeout, this, &TaskWindow::Timer2_Timer);
  connect(&Timer3, &QTimer::timeout, this, &TaskWindow::Timer3_Timer);
  connect(&Timer4, &QTimer::timeout, this, &TaskWindow::Timer4_Timer);
  connect(&Timer5, &QTimer::timeout, this, [this] { Timer5_Timer(*this); });
  connect(&Timer6, &QTimer::timeout, this, [this] { Timer6_Timer(*this); });

  // The timed start's alarm and clock.
  if (dueAlarm_.isValid())
    connect(dueAlarm_.notifier(), &QSocketNotifier::activated, this, &TaskWindow::onDueAlarm);
  clockTimer_.setInterval(10 * 60 * 1000);
  connect(&clockTimer_, &QTimer::timeout, this, &TaskWindow::measureClock);
  connect(&sntp_, &platform::SntpClient::measured, this, [this](qint64 offsetUs, qint64) {
    clock_offset_us_ = offsetUs;
    clockReported_ = true;
    if (Timer1.isActive()) aimDueAlarm();  // still counting down
    emit events.notice(clockOffsetText(offsetUs));
  });
  connect(&sntp_, &platform::SntpClient::failed, this, [this](platform::SntpClient::Failure why) {
    // Said once per arming; a later failure keeps the offset measured before.
    if (std::exchange(clockReported_, true)) return;
    emit events.notice(why == platform::SntpClient::Failure::HostNotFound
                           ? QStringLiteral("时钟偏差：找不到时间服务器 %1，使用本机时钟")
                                 .arg(this->settings.time_server)
                           : QStringLiteral("时钟偏差：时间服务器无响应，使用本机时钟"));
  });
  connect(&events, &RunEvents::notice, this,
          [this](const QString& text) { this->view.setText(Ctl::Label_notice, text); });
  applyDesignTimeState();
  connect(this, &TaskWindow::logged, &report, &RunReport::logEntry);
  view.logListener = [this](Ctl box, const QString& entry) { emit logged(box, entry); };
}

TaskWindow::~TaskWindow() { view.logListener = nullptr; }

// What the window holds before its initialisation runs: captions, hints,
// initial selections and the enabled and read-only states of an idle window.
void TaskWindow::applyDesignTimeState() {
  view.setText(Ctl::txt_api_url, texts::kApiHint);
  view.setHintColour(Ctl::txt_api_url, true);
  view.setText(Ctl::md5_var, texts::kMd5Hint);
  view.setHintColour(Ctl::md5_var, true);
  view.setText(Ctl::reg_second, QStringLiteral("1"));
  view.setReadOnly(Ctl::regsend, true);
  view.setReadOnly(Ctl::regresult, true);

  view.setText(Ctl::chkbox_utf8, QStringLiteral("使用UTF8编码发送"));
  view.setText(Ctl::chkbox_utf8_return, QStringLiteral("返回信息为UTF8编码"));
  view.setChecked(Ctl::chkbox_utf8, false);
  view.setChecked(Ctl::chkbox_utf8_return, false);

  view.setIndex(Ctl::radio_send_type, 0);
  view.setIndex(Ctl::radio_post_type, 0);
  view.setIndex(Ctl::radio_send_info, 2);
  view.setIndex(Ctl::radio_return_info, 2);

  view.setEntries(Ctl::send_interval, unitEntries());
  view.setEntries(Ctl::send_time, unitEntries());

  const std::pair<Ctl, const char16_t*> captions[] = {
      {Ctl::regstart, u"抢注"},
      {Ctl::normalreg, u"普通注册"},
      {Ctl::regstop, u"停止"},
      {Ctl::time_start, u"定时开始"},
      {Ctl::time_end, u"定时停止"},
      {Ctl::load_info, u"载入"},
      {Ctl::save_info, u"保存"},
      {Ctl::clear_info, u"清除"},
      {Ctl::Command1, u"时间同步"},
      {Ctl::Command2, u"MD5计算器"},
      {Ctl::Command3, u"Whois 设置"},
      {Ctl::Label1, u"状态：停止"},
      {Ctl::reg_send, u"发送表单数量：0"},
  };
  for (const auto& [control, caption] : captions)
    view.setText(control, QString::fromUtf16(caption));
  view.setText(Ctl::Label4, texts::kRemainingPrefix + u'0');
  view.setText(Ctl::Label_timer, texts::kCountdownPrefix);
  view.setEnabled(Ctl::regstop, false);
  view.setEnabled(Ctl::time_end, false);
}

void TaskWindow::Form_Load() {
  view.setText(Ctl::Lb_version, QStringLiteral("  version %1.%2.%3")
                                    .arg(ZEMBRIN_VERSION_MAJOR)
                                    .arg(ZEMBRIN_VERSION_MINOR)
                                    .arg(ZEMBRIN_VERSION_PATCH));
  utf8_send = 0;
  utf8_reply = 0;
  setIntStart(0);
  timer_start = 0;
  view.setEntries(Ctl::frequence, frequenceEntries());
  view.setIndex(Ctl::frequence, 0);
  view.setEntries(Ctl::time_out, timeOutEntries());
  view.setIndex(Ctl::time_out, 4);
  view.setEntries(Ctl::time_format, timeFormatEntries());
  view.setIndex(Ctl::time_format, 0);
  view.setIndex(Ctl::send_interval, 0);
  view.setIndex(Ctl::send_time, 0);
  send_mode = SendMode::NormalRegistration;
  if (!settings.problems.isEmpty())
    emit events.notice(settings.problems.join(QStringLiteral("；")));
}

// Inverts rather than sets: called once to lock and once to unlock, and every
// caller fixes regstop and time_end right after.
void TaskWindow::ToggleTaskControls() { ::ToggleTaskControls(view); }

bool TaskWindow::Form_QueryUnload(const std::function<void()>& endNow) {
  if (int_start() != 1 && timer_start != 1) return true;
  // A run that started inside the question (a timed start fell due) would
  // keep the answer from returning until it ends.
  const bool runningWhenAsked = int_start() == 1;
  return prompter.askYesNo(QStringLiteral("抢注正在进行中，确认退出吗?"), QStringLiteral("退出"),
                           MessageIcon::Question, [&] {
                             if (!runningWhenAsked && int_start() == 1 && endNow) endNow();
                           });
}

QString TaskWindow::hintOf(Ctl box) {
  if (box == Ctl::txt_api_url) return texts::kApiHint;
  if (box == Ctl::md5_var) return texts::kMd5Hint;
  return QString();
}

// A locked (read-only) box keeps its text: hints change only while idle.
void TaskWindow::removeHint(Ctl box) {
  if (view.readOnly(box) || view.text(box) != hintOf(box)) return;
  view.setText(box, QString());
  view.setHintColour(box, false);
}

void TaskWindow::restoreHint(Ctl box) {
  if (view.readOnly(box) || !view.text(box).isEmpty()) return;
  view.setHintColour(box, true);
  view.setText(box, hintOf(box));
}

void TaskWindow::clear_info_Click() {
  if (!prompter.askYesNo(QStringLiteral("确定清除吗？"))) return;
  for (Ctl c : {Ctl::domain_var, Ctl::txt_api_url, Ctl::reg_second}) view.setText(c, QString());
  view.setHintColour(Ctl::txt_api_url, false);
  view.setIndex(Ctl::frequence, 0);
  view.setIndex(Ctl::send_time, 0);
  view.setIndex(Ctl::send_interval, 0);
  view.setIndex(Ctl::time_out, 4);
  view.setIndex(Ctl::time_format, 0);
  view.setIndex(Ctl::radio_post_type, 0);
  view.setIndex(Ctl::radio_return_info, 2);
  view.setIndex(Ctl::radio_send_info, 2);
  for (Ctl c : {Ctl::time_var, Ctl::md5_name, Ctl::md5_var, Ctl::common1, Ctl::dyn1, Ctl::dyn2,
                Ctl::year1, Ctl::month1, Ctl::day1, Ctl::hour1, Ctl::minute1, Ctl::second1})
    view.setText(c, QString());
  view.setHintColour(Ctl::md5_var, false);
}

void TaskWindow::chkbox_utf8_Click() { utf8_send = utf8_send == -1 ? 0 : -1; }
void TaskWindow::chkbox_utf8_return_Click() { utf8_reply = utf8_reply == -1 ? 0 : -1; }

void TaskWindow::Command1_Click() { startCompanionTool(QStringLiteral("/Tembrel/Tembrel.exe")); }
void TaskWindow::Command2_Click() { startCompanionTool(QStringLiteral("/sumvik/sumvik.exe")); }

void TaskWindow::Command3_Click() {
  if (showSettingsDialog) showSettingsDialog();
}

// Started detached, without a shell, from the program's folder or, for an
// installed program whose folder the user cannot write, from the settings
// file's folder. On this platform a tool named with the ".exe" suffix may
// also be installed without it.
void TaskWindow::startCompanionTool(const QString& relativePath) {
  const QString programDir = QCoreApplication::applicationDirPath();
  const QString settingsDir = QFileInfo(settingsPath).absolutePath();
  QStringList paths{programDir + relativePath};
  if (QFileInfo(settingsDir).canonicalFilePath() != QFileInfo(programDir).canonicalFilePath())
    paths << settingsDir + relativePath;
  const QString exeSuffix = QStringLiteral(".exe");
  for (const QString& path : paths) {
    QStringList candidates{path};
    if (path.endsWith(exeSuffix, Qt::CaseInsensitive)) candidates << path.chopped(exeSuffix.size());
    for (const QString& candidate : candidates) {
      if (QProcess::startDetached(candidate, {}, QFileInfo(candidate).absolutePath())) return;
    }
  }
  prompter.showMessage(QStringLiteral("无法启动程序：") + paths.join(QStringLiteral(" 或 ")) +
                       QStringLiteral("，请检查该程序是否存在！"));
}

void TaskWindow::save_info_Click() { saveTaskClick(*this); }
void TaskWindow::load_info_Click() { loadTaskClick(*this); }
