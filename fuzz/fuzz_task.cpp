// Fuzzes the task-file loader, task validation and the tables built from a
// valid task (percent-encoding and md5 included).
//
// Input: the first byte chooses the road. Even: the rest is a task file,
// loaded as the load button loads it. Odd: the rest is the window's boxes
// (split at 0x01, read as UTF-8) plus a few selections, set directly, so
// single-line boxes can hold line breaks as pasted text does.
#include <QCoreApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>

#include "app/MemoryView.h"
#include "app/TaskWindow.h"
#include "codecs/PercentEncode.h"
#include "support/ScriptedPrompter.h"
#include "task/Md5.h"
#include "task/TaskFile.h"
#include "task/Validation.h"
#include "task/VariableTables.h"

namespace {

void check(bool ok, const char* what) {
  if (ok) return;
  std::fprintf(stderr, "invariant broken: %s\n", what);
  std::abort();
}

bool isUpperHex(QChar c) { return (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'); }

// Only unreserved characters and "%" with two upper-case hex digits.
bool percentEncoded(const QString& s) {
  static const QString unreserved = QStringLiteral("-_.!~*'()");
  for (qsizetype i = 0; i < s.size(); ++i) {
    const QChar c = s[i];
    if ((c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z') || (c >= u'0' && c <= u'9') ||
        unreserved.contains(c))
      continue;
    if (c != u'%' || i + 2 >= s.size() || !isUpperHex(s[i + 1]) || !isUpperHex(s[i + 2]))
      return false;
    i += 2;
  }
  return true;
}

const Ctl kBoxes[] = {Ctl::txt_api_url, Ctl::common1,  Ctl::dyn1,    Ctl::dyn2,
                      Ctl::domain_var,  Ctl::md5_name, Ctl::md5_var, Ctl::time_var,
                      Ctl::reg_second,  Ctl::year1,    Ctl::second1};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
  static QCoreApplication app(*argc, *argv);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const QByteArray input(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

  MemoryView view;
  ScriptedPrompter prompter;
  Settings settings;
  SettingsDialogState dialogState;
  TaskWindow w(view, prompter, settings, dialogState, QStringLiteral("/nonexistent/zembrin.ini"));
  w.Form_Load();

  if (data[0] % 2 == 0) {
    applyTaskFileBytes(w, input);
  } else {
    const QList<QByteArray> parts = input.split('\x01');
    for (qsizetype i = 0; i < parts.size() && i < qsizetype(std::size(kBoxes)); ++i)
      view.setText(kBoxes[i], QString::fromUtf8(parts[i]));
    const uint8_t sel = data[0] >> 1;
    view.setIndex(Ctl::radio_send_type, sel & 1);
    view.setIndex(Ctl::send_time, (sel >> 1) % 3);
    const bool utf8 = (sel >> 3) & 1;
    view.setChecked(Ctl::chkbox_utf8, utf8);
    w.utf8_send = utf8 ? -1 : 0;
  }

  const bool valid = ValidateTask(w);
  check(prompter.messages().size() == (valid ? 0 : 1), "one message exactly when refused");
  if (!valid) return 0;
  BuildVariableTables(w);
  check(w.reg.Form1 == w.reg.Form, "body saved");
  for (const Md5Row& row : w.md5_table)
    if (row.hash_first == 1 && row.filled == 1)
      check(row.value.size() == 32 && row.value == row.value.toLower(), "md5 form");
  // Every value of the fixed content goes through the encoder; its output
  // must be plain unreserved characters and %XX only.
  for (const QString& line : view.text(Ctl::common1).split(QStringLiteral("\r\n"))) {
    const QString encoded = percentEncode(line);
    check(percentEncoded(encoded), "percent-encoded form");
    check(md5(line).size() == 32, "md5 length");
  }
  return 0;
}
