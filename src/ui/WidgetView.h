#pragma once
#include <QColor>
#include <QTimer>
#include <array>

#include "platform/TaskView.h"

class QButtonGroup;
class QPlainTextEdit;
class QWidget;

// The task window's controls as the flows see them: every call goes to the
// bound widget, so what the user sees is what the logic reads. Log appends
// and label texts are applied from the event loop, in order: laying out a
// long log box takes longer than a registration request takes to reach the
// registrar, and the request must not wait for it. Reads see pending changes.
class WidgetView : public TaskView {
 public:
  WidgetView();

  // Binds a control to its widget: QLineEdit, QPlainTextEdit, QComboBox,
  // QCheckBox, QPushButton or QLabel, by the control's kind.
  void bind(Ctl c, QWidget* widget);
  // Binds an option group; the group's ids are the option indices.
  void bindOptions(Ctl group, QButtonGroup* buttons);
  QWidget* widget(Ctl c) const { return widgets_[static_cast<int>(c)]; }
  QButtonGroup* options(Ctl group) const { return groups_[static_cast<int>(group)]; }

  // Applies every pending log append and label text now.
  void flush();

  // The colour of a hint and of typed text.
  static QColor hintTextColour();
  static QColor normalTextColour();

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

 private:
  struct Pending {
    QString append;  // text for a log box, CR LF as the logic writes it
    bool scroll = false;
    bool hasLabel = false;
    QString label;
  };
  QPlainTextEdit* area(Ctl c) const;
  bool deferred(Ctl c) const;
  void schedule();
  void flush(Ctl c) const;
  std::array<QWidget*, kControlCount> widgets_{};
  mutable std::array<Pending, kControlCount> pending_{};
  QTimer flushTimer_;
  std::array<QButtonGroup*, kControlCount> groups_{};
};
