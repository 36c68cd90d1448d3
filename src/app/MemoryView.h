#pragma once
#include <array>

#include "platform/TaskView.h"

// The task window as plain values, for tests and the headless runner.
class MemoryView : public TaskView {
 public:
  MemoryView();

  QString text(Ctl c) const override;
  void setText(Ctl c, const QString& text) override;
  int textLength(Ctl c) const override;
  void appendText(Ctl c, const QString& text) override;
  void scrollToEnd(Ctl c) override;

  QStringList entries(Ctl list) const override;
  void setEntries(Ctl list, const QStringList& entries) override;
  int index(Ctl listOrGroup) const override;
  void setIndex(Ctl listOrGroup, int index) override;

  bool checked(Ctl box) const override;
  void setChecked(Ctl box, bool on) override;

  bool enabled(Ctl c) const override;
  void setEnabled(Ctl c, bool on) override;
  bool readOnly(Ctl box) const override;
  void setReadOnly(Ctl box, bool on) override;

  bool hintColour(Ctl box) const override;
  void setHintColour(Ctl box, bool hint) override;

  int scrollCount(Ctl c) const { return state(c).scrolls; }

 private:
  struct State {
    QString text;
    QStringList entries;
    int index = -1;
    bool checked = false;
    bool enabled = true;
    bool readOnly = false;
    bool hint = false;
    int scrolls = 0;
  };
  const State& state(Ctl c) const { return states_[static_cast<int>(c)]; }
  State& state(Ctl c) { return states_[static_cast<int>(c)]; }
  std::array<State, kControlCount> states_;
};
