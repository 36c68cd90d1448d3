#pragma once
#include <QString>
#include <QStringList>
#include <array>

// The controls of the task window that the logic reads or writes, in the
// window's control order (the order the lock walks them).
enum class Ctl {
  txt_api_url,
  common1,
  dyn1,
  dyn2,
  domain_var,
  md5_name,
  md5_var,
  time_var,
  time_format,
  chkbox_utf8,
  chkbox_utf8_return,
  radio_send_type,
  radio_post_type,
  radio_send_info,
  radio_return_info,
  time_out,
  reg_second,
  send_time,
  frequence,
  send_interval,
  regsend,
  regresult,
  year1,
  month1,
  day1,
  hour1,
  minute1,
  second1,
  regstart,
  normalreg,
  regstop,
  time_start,
  time_end,
  load_info,
  save_info,
  clear_info,
  Command1,
  Command2,
  Command3,
  Label1,
  Label4,
  Label_timer,
  Label_notice,  // beside the count-down: the clock offset, settings replaced by defaults
  reg_send,
  Lb_version,
  Count
};

enum class CtlKind { LineEdit, TextArea, List, CheckBox, Button, Options, Label };

struct ControlInfo {
  Ctl id;
  const char* name;
  CtlKind kind;
};

constexpr int kControlCount = static_cast<int>(Ctl::Count);

// Every control, in window order.
const std::array<ControlInfo, kControlCount>& allControls();
const ControlInfo& controlInfo(Ctl c);

// Fixed texts of the window.
namespace texts {
inline const QString kApiHint = QStringLiteral("变量名用{{{var}}}包含");
inline const QString kMd5Hint = QStringLiteral("多个变量名之间用半角加号“+”分隔");
inline const QString kTimeFormatUnix = QStringLiteral("Unix timestamp");
// Texts every kind of run ends with.
inline const QString kStatusDone = QStringLiteral("状态：任务完成");
inline const QString kRemainingPrefix = QStringLiteral("任务剩余时间：");
// The remaining time of a run with a duration (Label4), once a second.
inline QString remainingText(qint64 seconds) {
  return kRemainingPrefix + QString::number(seconds) + QStringLiteral("秒");
}
// A WHOIS-triggered send is done; the watch's pause follows (its seconds after).
inline const QString kStatusWhoisPause = QStringLiteral("状态：发送完成，whois间隔...");
// The timed start's count-down (Label_timer); alone, no count-down runs.
inline const QString kCountdownPrefix = QStringLiteral("剩余时间：");
inline const QString kDoneMessage = QStringLiteral("操作完成！");
inline const QString kBadDateTime = QStringLiteral("日期时间有误，请检查！");
}  // namespace texts

// Captions of the option buttons of a group, in index order.
QStringList optionCaptions(Ctl group);

// Entries of the drop-down lists, as the window fills them at start-up.
QStringList frequenceEntries();   // 89 entries
QStringList timeOutEntries();     // 48 entries
QStringList unitEntries();        // 秒, 分钟, 小时
QStringList timeFormatEntries();  // 43 entries

class TaskView;
// Locks or unlocks the input controls during runs. It inverts rather than
// sets: called once to lock and once to unlock, and every caller fixes
// regstop and time_end right after.
void ToggleTaskControls(TaskView& view);

// The MD5 formula box's text; empty while the box shows its hint.
QString md5Formula(const TaskView& view);

// "秒" 1, "分钟" 60, "小时" 3600; 0 for anything else.
int secondsPerUnit(const QString& unitText);
