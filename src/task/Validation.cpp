#include "task/Validation.h"

#include <QHash>
#include <QRegularExpression>
#include <QSet>

#include "codecs/TextRules.h"
#include "task/TaskContext.h"

using namespace textrules;

namespace {

// Step 1: every text box trimmed; single-line boxes also lose CR and LF.
void tidyTextBoxes(TaskView& v) {
  for (const ControlInfo& c : allControls()) {
    if (c.kind != CtlKind::LineEdit && c.kind != CtlKind::TextArea) continue;
    const QString before = v.text(c.id);
    QString after = trimSpaces(before);
    if (c.kind == CtlKind::LineEdit) {
      after.remove(QLatin1Char('\r'));
      after.remove(QLatin1Char('\n'));
    }
    if (after != before) v.setText(c.id, after);
  }
}

// What a user might type that still reads as a number: optional sign, digits
// with thousands separators, a fraction, an exponent, or &H / &O notation.
bool looksNumeric(const QString& s) {
  static const QRegularExpression number(QStringLiteral(
      "^\\s*(?:&[Hh][0-9A-Fa-f]+|&[Oo][0-7]+|"
      "[+-]?\\s*(?:[0-9][0-9,]*(?:\\.[0-9]*)?|\\.[0-9]+)(?:[EeDd][+-]?[0-9]+)?)\\s*$"));
  return number.match(s).hasMatch();
}

// A plain integer as it prints: no plus sign, leading zero, fraction or separator.
bool isPlainInteger(const QString& s) {
  static const QRegularExpression plain(QStringLiteral("^(?:0|-?[1-9][0-9]*)$"));
  return plain.match(s).hasMatch();
}

// The duration check; an empty text when the duration is acceptable.
QString durationProblem(const QString& text, int unitIndex) {
  const QString notEmpty = QStringLiteral("持续时间不得为空，并且只能为正整数！");
  const QString positive = QStringLiteral("持续时间只能为正整数！");
  if (!looksNumeric(text)) return notEmpty;
  if (!isPlainInteger(text)) return positive;
  bool ok = false;
  const qint32 n = text.toInt(&ok);  // fails beyond the 32-bit range
  if (!ok || n < 1) return positive;
  if (unitIndex == 0 && n > 2073600) return QStringLiteral("持续时间不能超过24天（2073600秒）！");
  if (unitIndex == 1 && n > 34560) return QStringLiteral("持续时间不能超过24天（34560分）！");
  if (unitIndex == 2 && n > 576) return QStringLiteral("持续时间不能超过24天（576小时）！");
  return QString();
}

bool known(const QString& names, const QString& name) {
  return names.contains(kFieldSep + name + kFieldSep);
}

QString cutFinalSeparator(const QString& list) {
  return list.size() > 3 ? list.left(list.size() - kFieldSep.size()) : list;
}

QString duplicateMessage(const QString& name, const QString& where) {
  return QStringLiteral("检测到变量 ") + name + QStringLiteral(" 在 ") + where +
         QStringLiteral(" 中设置重复，请检查！");
}

// The first name of `names` (in order, empty names skipped) that also occurs in `others`.
QString firstShared(const QStringList& names, const QStringList& others) {
  const QSet<QString> set(others.cbegin(), others.cend());
  for (const QString& n : names)
    if (!n.isEmpty() && set.contains(n)) return n;
  return QString();
}

// The checks of one dynamic box's lines; an empty text when they agree.
QString dynamicLinesProblem(const QString& text, const QString& label) {
  const QString unassigned = label + QStringLiteral("变量 %1 未赋值（缺少“===”符号），请检查！");
  bool haveReference = false;
  QStringList referenceNames;
  for (const QString& raw : lines(text)) {
    const QString line = trimSpaces(raw);
    if (line.isEmpty()) continue;
    QStringList pieces = split(line, kFieldSep);
    for (QString& p : pieces) p = trimSpaces(p);
    if (!haveReference) {
      haveReference = true;
      for (const QString& p : pieces) {
        if (!p.contains(kAssign)) return unassigned.arg(p);
        referenceNames.append(trimSpaces(splitItem(p).name));
      }
      continue;
    }
    if (pieces.size() != referenceNames.size())
      return label + QStringLiteral("各行有未匹配变量，请检查！");
    for (qsizetype i = 0; i < pieces.size(); ++i) {
      if (!pieces[i].contains(kAssign)) return unassigned.arg(pieces[i]);
      const QString name = splitItem(pieces[i]).name;
      if (trimSpaces(name) != referenceNames[i])
        return label + QStringLiteral("变量 ") + name + QStringLiteral(" 与其他行不匹配，请检查！");
    }
  }
  return QString();
}

// Step 8: every name the task defines ("|||a|||b|||"; the time variable
// counts as defined) and each box's names in order ("a|||b"). Records where
// the domain variable is defined.
struct DefinedNames {
  QString all;
  QString fixed, dyn1, dyn2;
};

DefinedNames collectNames(TaskContext& w, const QString& domainVar, const QString& timeVar,
                          const QString& common, const QString& dyn1, const QString& dyn2) {
  DefinedNames n;
  n.all = kFieldSep + timeVar + kFieldSep;
  for (const QString& raw : lines(common)) {
    const QString line = trimSpaces(raw);
    if (line.isEmpty()) continue;
    const QString name = trimSpaces(splitItem(line).name);
    n.all += name + kFieldSep;
    n.fixed += name + kFieldSep;
    if (name == domainVar) w.domain_source = QStringLiteral("common");
  }
  auto collectDynamic = [&](const QString& text, QString& list, const QString& source) {
    for (const QString& raw : lines(text)) {
      const QString line = trimSpaces(raw);
      if (line.isEmpty()) continue;
      for (const QString& rawPiece : split(line, kFieldSep)) {
        const QString piece = trimSpaces(rawPiece);
        if (piece.isEmpty()) continue;
        const QString name = trimSpaces(splitItem(piece).name);
        if (!name.isEmpty()) n.all += name + kFieldSep;
        if (name == domainVar) w.domain_source = source;
        list += name + kFieldSep;
      }
    }
  };
  collectDynamic(dyn1, n.dyn1, QStringLiteral("dyn1"));
  collectDynamic(dyn2, n.dyn2, QStringLiteral("dyn2"));
  n.fixed = cutFinalSeparator(n.fixed);
  n.dyn1 = cutFinalSeparator(n.dyn1);
  n.dyn2 = cutFinalSeparator(n.dyn2);
  return n;
}

// Step 9: names set twice. Repeats inside one dynamic box are one per line.
QString duplicateProblem(const DefinedNames& n) {
  const QStringList fixedNames = split(n.fixed, kFieldSep);
  const QStringList dyn1Names = split(n.dyn1, kFieldSep);
  const QStringList dyn2Names = split(n.dyn2, kFieldSep);
  if (!n.fixed.isEmpty()) {
    QHash<QString, int> count;
    for (const QString& name : fixedNames)
      if (!name.isEmpty()) ++count[name];
    for (const QString& name : fixedNames)
      if (!name.isEmpty() && count.value(name) > 1)
        return duplicateMessage(name, QStringLiteral("固定内容"));
    QString shared = firstShared(fixedNames, dyn1Names);
    if (!shared.isEmpty()) return duplicateMessage(shared, QStringLiteral("固定内容 与 动态内容1"));
    shared = firstShared(fixedNames, dyn2Names);
    if (!shared.isEmpty()) return duplicateMessage(shared, QStringLiteral("固定内容 与 动态内容2"));
  }
  if (!n.dyn1.isEmpty() && !n.dyn2.isEmpty()) {
    const QString shared = firstShared(dyn2Names, dyn1Names);
    if (!shared.isEmpty())
      return duplicateMessage(shared, QStringLiteral("动态内容1 与 动态内容2"));
  }
  return QString();
}

// Step 10: every formula term names a defined variable (or is a quoted literal).
QString md5TermsProblem(const QString& md5Var, const QString& names) {
  for (const QString& piece : split(md5Var, QStringLiteral("+"))) {
    QString t = trimSpaces(piece);
    const QString missing = QStringLiteral("MD5公式变量 %1 不存在，请检查！");
    if (t.startsWith(QLatin1String("{{{")) && t.endsWith(QLatin1String("}}}"))) {
      if (t.size() < 7) return missing.arg(t);
      t = trimSpaces(t.mid(3, t.size() - 6));
      if (t.isEmpty()) return QStringLiteral("MD5公式变量不得为空，请检查！");
    }
    const bool literal = t.startsWith(QLatin1Char('"')) && t.endsWith(QLatin1Char('"'));
    if (!literal && !known(names, t)) return missing.arg(t);
  }
  return QString();
}

// Step 13: the API URL, and its placeholders when sending with Get.
QString apiUrlProblem(TaskContext& w, const QString& names) {
  w.api_url = w.view.text(Ctl::txt_api_url);
  w.url_template_mode = false;
  if (w.view.index(Ctl::radio_send_type) != 0 || !w.api_url.contains(QLatin1String("{{{")) ||
      !w.api_url.contains(QLatin1String("}}}")))
    return QString();
  static const QRegularExpression placeholder(QStringLiteral("\\{\\{\\{\\S+?\\}\\}\\}"),
                                              QRegularExpression::CaseInsensitiveOption);
  QStringList matches;
  for (auto it = placeholder.globalMatch(w.api_url); it.hasNext();)
    matches.append(it.next().captured(0));
  if (matches.isEmpty()) return QString();
  w.url_template_mode = true;
  w.url_vars = QList<UrlVar>(matches.size());
  for (qsizetype i = 0; i < matches.size(); ++i) {
    QString name = matches[i];
    name.remove(QStringLiteral("{{{"));
    name.remove(QStringLiteral("}}}"));
    w.url_vars[i].name = name;
    if (!known(names, name))
      return QStringLiteral("API URL 接口变量 ") + name + QStringLiteral(" 不存在，请检查！");
  }
  return QString();
}

}  // namespace

bool ValidateTask(TaskContext& w) {
  const QString problem = taskProblem(w);
  if (problem.isEmpty()) return true;
  w.prompter.showMessage(problem);
  return false;
}

QString taskProblem(TaskContext& w) {
  TaskView& v = w.view;

  // 1-2. Tidy the boxes; a formula box still showing its hint is empty.
  tidyTextBoxes(v);
  v.setHintColour(Ctl::md5_var, false);
  const QString md5Var = md5Formula(v);
  if (md5Var != v.text(Ctl::md5_var)) v.setText(Ctl::md5_var, md5Var);

  const QString domainVar = v.text(Ctl::domain_var);
  const QString common = v.text(Ctl::common1);
  const QString dyn1 = v.text(Ctl::dyn1);
  const QString dyn2 = v.text(Ctl::dyn2);
  const QString md5Name = v.text(Ctl::md5_name);

  // 3-5. The required boxes.
  if (domainVar.isEmpty()) return QStringLiteral("域名变量名不得为空！");
  if (v.text(Ctl::txt_api_url).isEmpty()) return QStringLiteral("接口地址不得为空！");
  if (common.isEmpty() && dyn1.isEmpty() && dyn2.isEmpty())
    return QStringLiteral("注册内容不得为空！");

  // 6. The duration.
  const QString durationMessage = durationProblem(v.text(Ctl::reg_second), v.index(Ctl::send_time));
  if (!durationMessage.isEmpty()) return durationMessage;

  // 7. A signature name needs a formula.
  if (!md5Name.isEmpty() && md5Var.isEmpty()) return QStringLiteral("MD5计算公式不得为空！");

  // 8-9. The names the task defines, none set twice.
  const DefinedNames defined =
      collectNames(w, domainVar, v.text(Ctl::time_var), common, dyn1, dyn2);
  QString names = defined.all;
  if (const QString problem = duplicateProblem(defined); !problem.isEmpty()) return problem;

  // 10. The formula's terms.
  if (!md5Var.isEmpty() && !md5Name.isEmpty()) {
    if (const QString problem = md5TermsProblem(md5Var, names); !problem.isEmpty()) return problem;
  }

  // 11. The domain variable is defined somewhere.
  if (!known(names, domainVar))
    return QStringLiteral("没有在固定、动态内容中找到域名变量 ") + domainVar +
           QStringLiteral(" ，请检查！");

  // 12. A placeholder may name the signature.
  names += md5Name + kFieldSep;

  // 13. The API URL.
  if (const QString problem = apiUrlProblem(w, names); !problem.isEmpty()) return problem;

  // 14-15. Every line of a dynamic box carries the reference line's names.
  if (!dyn1.isEmpty()) {
    const QString problem = dynamicLinesProblem(dyn1, QStringLiteral("动态1"));
    if (!problem.isEmpty()) return problem;
  }
  if (!dyn2.isEmpty()) {
    const QString problem = dynamicLinesProblem(dyn2, QStringLiteral("动态2"));
    if (!problem.isEmpty()) return problem;
  }
  return QString();
}
