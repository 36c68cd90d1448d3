#pragma once
#include <QPointer>
#include <QWidget>

#include "platform/Prompter.h"

// Message boxes and file dialogs of the window program, modal over `parent`.
class QtPrompter : public Prompter {
 public:
  explicit QtPrompter(QWidget* parent = nullptr) : parent_(parent) {}
  void setParentWidget(QWidget* parent) { parent_ = parent; }

  // The program's title, used when a message names none.
  static QString programTitle();

  void showMessage(const QString& text, const QString& title, MessageIcon icon) override;
  bool askYesNo(const QString& text, const QString& title, MessageIcon icon,
                const std::function<void()>& onYes = {}) override;
  QString openFileName(const QString& filter) override;
  QString saveFileName(const QString& filter) override;

 private:
  QPointer<QWidget> parent_;
};
