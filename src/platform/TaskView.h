#pragma once
#include <QString>
#include <QStringList>
#include <functional>

#include "platform/Controls.h"

// What the flows see of the task window. The widget window implements it for
// the user; MemoryView implements it for tests and the headless runner.
//
// Multi-line boxes exchange their text with lines separated by CR LF.
// For a list, text() is the selected entry; for an option group, index() is
// the selected option; for a label or button, text() is its caption.
class TaskView {
 public:
  virtual ~TaskView() = default;

  virtual QString text(Ctl c) const = 0;
  virtual void setText(Ctl c, const QString& text) = 0;
  virtual int textLength(Ctl c) const { return text(c).size(); }
  // Appends to a multi-line box (the logs) without rewriting it.
  virtual void appendText(Ctl c, const QString& text) = 0;
  virtual void scrollToEnd(Ctl c) = 0;

  virtual QStringList entries(Ctl list) const = 0;
  virtual void setEntries(Ctl list, const QStringList& entries) = 0;
  virtual int index(Ctl listOrGroup) const = 0;
  virtual void setIndex(Ctl listOrGroup, int index) = 0;

  virtual bool checked(Ctl box) const = 0;
  virtual void setChecked(Ctl box, bool on) = 0;

  virtual bool enabled(Ctl c) const = 0;
  virtual void setEnabled(Ctl c, bool on) = 0;
  virtual bool readOnly(Ctl box) const = 0;
  virtual void setReadOnly(Ctl box, bool on) = 0;

  // Text colour of a box: the hint colour or the normal black.
  virtual bool hintColour(Ctl box) const = 0;
  virtual void setHintColour(Ctl box, bool hint) = 0;

  // Told of every entry appended to a log box (appendLog), without the line
  // breaks that end it; set by the task window for the log file and the
  // headless runner.
  std::function<void(Ctl box, const QString& entry)> logListener;
};
