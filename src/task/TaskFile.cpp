#include "task/TaskFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include "codecs/Charsets.h"
#include "codecs/TextRules.h"
#include "platform/Clock.h"
#include "platform/FileWrite.h"
#include "task/TaskContext.h"

using namespace textrules;

namespace {

const QString kFilter = QStringLiteral("*.txt");

// Drop lists of a million domains take some 25 MB; a file ten times larger
// is not a task, and loading it whole would exhaust memory.
constexpr qint64 kMaxTaskFileBytes = 256 * 1024 * 1024;

QString tooLargeMessage(const QString& path, qint64 size) {
  return QStringLiteral("载入失败！任务文件 %1 大小为 %2 MB，超过 %3 MB 的上限，未载入任何内容。")
      .arg(QDir::toNativeSeparators(path), QString::number(size / 1048576.0, 'f', 1),
           QString::number(kMaxTaskFileBytes / 1048576));
}

QString indexText(int index) { return QString::number(index); }

// Option groups are written only when an option is selected.
void appendOption(QStringList& out, const QString& key, int index, int options) {
  if (index >= 0 && index < options) out << key + kAssign + indexText(index);
}

QStringList taskLines(const TaskView& v) {
  QStringList out;
  auto textLine = [&](const QString& key, Ctl box) {
    const QString t = v.text(box);
    if (!t.isEmpty()) out << key + kAssign + t;
  };
  out << QStringLiteral("[config_begin]");
  textLine(QStringLiteral("domain_var"), Ctl::domain_var);
  out << QStringLiteral("use_utf8===") +
             (v.checked(Ctl::chkbox_utf8) ? QLatin1String("1") : QLatin1String("0"));
  out << QStringLiteral("use_utf8_return===") +
             (v.checked(Ctl::chkbox_utf8_return) ? QLatin1String("1") : QLatin1String("0"));
  textLine(QStringLiteral("api"), Ctl::txt_api_url);
  textLine(QStringLiteral("time"), Ctl::reg_second);
  out << QStringLiteral("time_unit===") + indexText(v.index(Ctl::send_time));
  out << QStringLiteral("frequence===") + indexText(v.index(Ctl::frequence));
  out << QStringLiteral("time_out===") + indexText(v.index(Ctl::time_out));
  out << QStringLiteral("time_format===") + indexText(v.index(Ctl::time_format));
  out << QStringLiteral("frequence_unit===") + indexText(v.index(Ctl::send_interval));
  appendOption(out, QStringLiteral("send_type"), v.index(Ctl::radio_send_type), 2);
  appendOption(out, QStringLiteral("sent_mode"), v.index(Ctl::radio_post_type), 2);
  appendOption(out, QStringLiteral("return"), v.index(Ctl::radio_return_info), 3);
  appendOption(out, QStringLiteral("send"), v.index(Ctl::radio_send_info), 3);
  textLine(QStringLiteral("time_var"), Ctl::time_var);
  textLine(QStringLiteral("md5"), Ctl::md5_name);
  const QString formula = md5Formula(v);
  if (!formula.isEmpty()) out << QStringLiteral("md5_var===") + formula;
  out << QStringLiteral("year===") + v.text(Ctl::year1);
  out << QStringLiteral("month===") + v.text(Ctl::month1);
  out << QStringLiteral("day===") + v.text(Ctl::day1);
  out << QStringLiteral("hour===") + v.text(Ctl::hour1);
  out << QStringLiteral("minute===") + v.text(Ctl::minute1);
  out << QStringLiteral("second===") + v.text(Ctl::second1);
  out << QStringLiteral("[config_end]") << QString();
  out << QStringLiteral("[common_begin]") << v.text(Ctl::common1) << QStringLiteral("[common_end]")
      << QString();
  out << QStringLiteral("[dyn1_begin]") << v.text(Ctl::dyn1) << QStringLiteral("[dyn1_end]")
      << QString();
  out << QStringLiteral("[dyn2_begin]") << v.text(Ctl::dyn2) << QStringLiteral("[dyn2_end]");
  return out;
}

// The file's lines. CR LF ends a line; a bare LF does too, so files edited
// with Unix tools load. A final line end adds no empty line.
QStringList fileLines(QString text) {
  // NUL cannot be typed into a box and would cut texts short in the widgets.
  text.remove(QChar(0));
  QStringList out = text.split(QLatin1Char('\n'), Qt::KeepEmptyParts);
  if (!out.isEmpty() && out.last().isEmpty()) out.removeLast();
  for (QString& line : out)
    if (line.endsWith(QLatin1Char('\r'))) line.chop(1);
  return out;
}

// A whole number from 0 to last, or -1.
int indexValue(const QString& value, int last) {
  static const QRegularExpression digits(QStringLiteral("^[0-9]{1,9}$"));
  if (!digits.match(value).hasMatch()) return -1;
  const int n = value.toInt();
  return n <= last ? n : -1;
}

void selectIndex(TaskView& v, Ctl list, const QString& value, int last) {
  const int n = indexValue(value, last);
  if (n >= 0) v.setIndex(list, n);
}

void applyKey(TaskContext& w, const QString& key, const QString& value) {
  TaskView& v = w.view;
  // An empty date value becomes that part of the current time.
  auto dateValue = [&](Ctl box, int (*part)(const QDateTime&)) {
    v.setText(box, value.isEmpty() ? QString::number(part(platform::now())) : value);
  };
  // Each check box is set before its flag: setting the box may run its click
  // handler, which inverts the flag.
  auto checkBox = [&](Ctl box, qint16& flag) {
    if (value != QLatin1String("0") && value != QLatin1String("1"))
      return;  // anything else leaves both alone
    const bool on = value == QLatin1String("1");
    v.setChecked(box, on);
    flag = on ? -1 : 0;
  };

  if (key == QLatin1String("domain_var"))
    v.setText(Ctl::domain_var, value);
  else if (key == QLatin1String("use_utf8"))
    checkBox(Ctl::chkbox_utf8, w.utf8_send);
  else if (key == QLatin1String("use_utf8_return"))
    checkBox(Ctl::chkbox_utf8_return, w.utf8_reply);
  else if (key == QLatin1String("api")) {
    v.setHintColour(Ctl::txt_api_url, false);
    v.setText(Ctl::txt_api_url, value);
  } else if (key == QLatin1String("time"))
    v.setText(Ctl::reg_second, value);
  else if (key == QLatin1String("time_unit"))
    selectIndex(v, Ctl::send_time, value, 2);
  else if (key == QLatin1String("frequence"))
    selectIndex(v, Ctl::frequence, value, int(v.entries(Ctl::frequence).size()) - 1);
  else if (key == QLatin1String("time_out"))
    selectIndex(v, Ctl::time_out, value, int(v.entries(Ctl::time_out).size()) - 1);
  else if (key == QLatin1String("time_format"))
    selectIndex(v, Ctl::time_format, value, int(v.entries(Ctl::time_format).size()) - 1);
  else if (key == QLatin1String("frequence_unit"))
    selectIndex(v, Ctl::send_interval, value, 2);
  else if (key == QLatin1String("send_type"))
    selectIndex(v, Ctl::radio_send_type, value, 1);
  else if (key == QLatin1String("sent_mode"))
    selectIndex(v, Ctl::radio_post_type, value, 1);
  else if (key == QLatin1String("return"))
    selectIndex(v, Ctl::radio_return_info, value, 2);
  else if (key == QLatin1String("send"))
    selectIndex(v, Ctl::radio_send_info, value, 2);
  else if (key == QLatin1String("time_var"))
    v.setText(Ctl::time_var, value);
  else if (key == QLatin1String("md5"))
    v.setText(Ctl::md5_name, value);
  else if (key == QLatin1String("md5_var")) {
    v.setHintColour(Ctl::md5_var, false);
    v.setText(Ctl::md5_var, value);
  } else if (key == QLatin1String("year"))
    dateValue(Ctl::year1, [](const QDateTime& t) { return t.date().year(); });
  else if (key == QLatin1String("month"))
    dateValue(Ctl::month1, [](const QDateTime& t) { return t.date().month(); });
  else if (key == QLatin1String("day"))
    dateValue(Ctl::day1, [](const QDateTime& t) { return t.date().day(); });
  else if (key == QLatin1String("hour"))
    dateValue(Ctl::hour1, [](const QDateTime& t) { return t.time().hour(); });
  else if (key == QLatin1String("minute"))
    dateValue(Ctl::minute1, [](const QDateTime& t) { return t.time().minute(); });
  else if (key == QLatin1String("second"))
    v.setText(Ctl::second1, value.isEmpty() ? QStringLiteral("0") : value);
}

// Every configuration section in file order; a later value wins.
void applyConfiguration(TaskContext& w, const QStringList& lines) {
  const qsizetype n = lines.size();
  qsizetype i = 0;
  while (i < n) {
    if (!lines[i++].contains(QLatin1String("[config_begin]"))) continue;
    if (i >= n) break;  // a marker on the last line opens an empty section
    QString line = trimSpaces(lines[i++]);
    for (;;) {
      // At the end of the file the section closes before the line just read
      // is looked at.
      if (line.contains(QLatin1String("[config_end]")) || i >= n) break;
      if (line.contains(kAssign)) {
        const Item item = splitItem(line);
        applyKey(w, trimSpaces(item.name), trimSpaces(item.value));
      }
      line = lines[i++];
    }
  }
}

// The lines between begin and end markers, every section of them, blank lines dropped.
QString sectionContent(const QStringList& lines, const QString& begin, const QString& end) {
  QString out;
  const qsizetype n = lines.size();
  qsizetype i = 0;
  while (i < n) {
    if (!lines[i++].contains(begin)) continue;
    while (i < n) {
      const QString& line = lines[i++];
      if (line.contains(end)) break;
      if (!trimSpaces(line).isEmpty()) out += line + kCrLf;
    }
  }
  return out;
}

}  // namespace

bool writeTaskFile(const TaskContext& w, const QString& path, QString* error) {
  return platform::replaceFile(path, charsets::toGb18030(taskLines(w.view).join(kCrLf) + kCrLf),
                               error);
}

bool readTaskFile(TaskContext& w, const QString& path, QString* error) {
  auto fail = [&](const QString& message) {
    if (error) *error = message;
    return false;
  };
  if (!QFileInfo(path).isFile()) return fail(QStringLiteral("指定文件不存在！"));
  QFile file(path);
  auto unreadable = [&] {
    return fail(QStringLiteral("载入失败！无法读取任务文件 %1：%2")
                    .arg(QDir::toNativeSeparators(path), file.errorString()));
  };
  if (!file.open(QIODevice::ReadOnly)) return unreadable();
  if (file.size() > kMaxTaskFileBytes) return fail(tooLargeMessage(path, file.size()));
  const QByteArray bytes = file.readAll();
  if (file.error() != QFileDevice::NoError) return unreadable();
  file.close();
  applyTaskFileBytes(w, bytes);
  return true;
}

void applyTaskFileBytes(TaskContext& w, const QByteArray& bytes) {
  const QStringList lines = fileLines(charsets::fromGb18030(bytes));
  applyConfiguration(w, lines);
  w.view.setText(Ctl::common1, sectionContent(lines, QStringLiteral("[common_begin]"),
                                              QStringLiteral("[common_end]")));
  w.view.setText(Ctl::dyn1, sectionContent(lines, QStringLiteral("[dyn1_begin]"),
                                           QStringLiteral("[dyn1_end]")));
  w.view.setText(Ctl::dyn2, sectionContent(lines, QStringLiteral("[dyn2_begin]"),
                                           QStringLiteral("[dyn2_end]")));
}

void saveTaskClick(TaskContext& w) {
  QString path = w.prompter.saveFileName(kFilter);
  if (path.isEmpty()) return;
  if (!path.contains(QLatin1Char('.'))) path += QStringLiteral(".txt");
  QString error;
  if (!writeTaskFile(w, path, &error)) {
    w.prompter.showMessage(QStringLiteral("保存失败！无法写入任务文件 %1：%2")
                               .arg(QDir::toNativeSeparators(path), error));
    return;
  }
  w.prompter.showMessage(QStringLiteral("保存完成！"));
}

void loadTaskClick(TaskContext& w) {
  if (!w.prompter.askYesNo(QStringLiteral("载入信息将覆盖现有全部信息，确定吗？"))) return;
  const QString path = w.prompter.openFileName(kFilter);
  if (path.isEmpty()) return;
  QString error;
  if (!readTaskFile(w, path, &error)) {
    w.prompter.showMessage(error);
    return;
  }
  w.prompter.showMessage(QStringLiteral("载入完成！"));
}
