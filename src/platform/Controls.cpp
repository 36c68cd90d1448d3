#include "platform/Controls.h"

#include "platform/TaskView.h"

#define ZC(name, kind) \
  ControlInfo { Ctl::name, #name, CtlKind::kind }

const std::array<ControlInfo, kControlCount>& allControls() {
  static const std::array<ControlInfo, kControlCount> controls = {{
      ZC(txt_api_url, LineEdit),
      ZC(common1, TextArea),
      ZC(dyn1, TextArea),
      ZC(dyn2, TextArea),
      ZC(domain_var, LineEdit),
      ZC(md5_name, LineEdit),
      ZC(md5_var, LineEdit),
      ZC(time_var, LineEdit),
      ZC(time_format, List),
      ZC(chkbox_utf8, CheckBox),
      ZC(chkbox_utf8_return, CheckBox),
      ZC(radio_send_type, Options),
      ZC(radio_post_type, Options),
      ZC(radio_send_info, Options),
      ZC(radio_return_info, Options),
      ZC(time_out, List),
      ZC(reg_second, LineEdit),
      ZC(send_time, List),
      ZC(frequence, List),
      ZC(send_interval, List),
      ZC(regsend, TextArea),
      ZC(regresult, TextArea),
      ZC(year1, LineEdit),
      ZC(month1, LineEdit),
      ZC(day1, LineEdit),
      ZC(hour1, LineEdit),
      ZC(minute1, LineEdit),
      ZC(second1, LineEdit),
      ZC(regstart, Button),
      ZC(normalreg, Button),
      ZC(regstop, Button),
      ZC(time_start, Button),
      ZC(time_end, Button),
      ZC(load_info, Button),
      ZC(save_info, Button),
      ZC(clear_info, Button),
      ZC(Command1, Button),
      ZC(Command2, Button),
      ZC(Command3, Button),
      ZC(Label1, Label),
      ZC(Label4, Label),
      ZC(Label_timer, Label),
      ZC(Label_notice, Label),
      ZC(reg_send, Label),
      ZC(Lb_version, Label),
  }};
  return controls;
}
#undef ZC

const ControlInfo& controlInfo(Ctl c) { return allControls()[static_cast<int>(c)]; }

QStringList optionCaptions(Ctl group) {
  switch (group) {
    case Ctl::radio_send_type:
      return {QStringLiteral("Get"), QStringLiteral("Post")};
    case Ctl::radio_post_type:
      return {QStringLiteral("同步(慢)"), QStringLiteral("异步(快)")};
    case Ctl::radio_send_info:
      return {QStringLiteral("不显示"), QStringLiteral("第一次显示"), QStringLiteral("全程显示")};
    case Ctl::radio_return_info:
      return {QStringLiteral("不返回"), QStringLiteral("第一次返回"), QStringLiteral("全程返回")};
    default:
      return {};
  }
}

QStringList frequenceEntries() {
  QStringList e;
  for (int i = 0; i <= 59; ++i) e << QString::number(i);
  for (int i = 60; i <= 200; i += 5) e << QString::number(i);
  return e;
}

QStringList timeOutEntries() {
  QStringList e;
  for (int i = 1; i <= 30; ++i) e << QString::number(i);
  for (int i = 35; i <= 120; i += 5) e << QString::number(i);
  return e;
}

QStringList unitEntries() {
  return {QStringLiteral("秒"), QStringLiteral("分钟"), QStringLiteral("小时")};
}

QStringList timeFormatEntries() {
  return {
      "yyyy-m-d h:mm:ss",
      "yyyy-mm-dd hh:mm:ss",
      "yyyy-m-d h:m:s",
      "yy-mm-dd hh:mm:ss",
      "yy-m-d h:mm:ss",
      "yy-m-d h:m:s",
      "yyyy-m-d h:mm",
      "yyyy-mm-dd hh:mm",
      "yyyy-m-d h:m",
      "yy-mm-dd hh:mm",
      "yy-m-d h:mm",
      "yy-m-d h:m",
      "yyyy-m-d",
      "yyyy-mm-dd",
      "yy-mm-dd",
      "yy-m-d",
      "h:mm:ss",
      "hh:mm:ss",
      "h:m:s",
      "h:mm",
      "hh:mm",
      "yyyymdhmmss",
      "yyyymmddhhmmss",
      "yyyymdhms",
      "yymmddhhmmss",
      "yymdhmmss",
      "yymdhms",
      "yyyymdhmm",
      "yyyymmddhhmm",
      "yyyymdhm",
      "yymmddhhmm",
      "yymdhmm",
      "yymdhm",
      "yyyymd",
      "yyyymmdd",
      "yymmdd",
      "yymd",
      "hmmss",
      "hhmmss",
      "hms",
      "hmm",
      "hhmm",
      texts::kTimeFormatUnix,
  };
}

int secondsPerUnit(const QString& unitText) {
  if (unitText == QStringLiteral("秒")) return 1;
  if (unitText == QStringLiteral("分钟")) return 60;
  if (unitText == QStringLiteral("小时")) return 3600;
  return 0;
}

void ToggleTaskControls(TaskView& view) {
  for (const ControlInfo& c : allControls()) {
    switch (c.kind) {
      case CtlKind::LineEdit:
      case CtlKind::TextArea:
        view.setReadOnly(c.id, !view.readOnly(c.id));
        break;
      case CtlKind::List:
      case CtlKind::CheckBox:
      case CtlKind::Button:
      case CtlKind::Options:
        view.setEnabled(c.id, !view.enabled(c.id));
        break;
      case CtlKind::Label:
        break;
    }
  }
}

QString md5Formula(const TaskView& view) {
  const QString formula = view.text(Ctl::md5_var);
  return formula == texts::kMd5Hint ? QString() : formula;
}
