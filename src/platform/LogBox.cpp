#include "platform/LogBox.h"

void appendLog(TaskView& view, Ctl box, const QString& entry, bool applyLimit) {
  if (applyLimit && view.textLength(box) > kLogLimit) view.setText(box, QString());
  view.appendText(box, entry + QStringLiteral("\r\n\r\n\r\n"));
  view.scrollToEnd(box);
  if (view.logListener) view.logListener(box, entry);
}
