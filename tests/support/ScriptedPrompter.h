#pragma once
#include <QList>
#include <QStringList>
#include <functional>

#include "platform/Prompter.h"

// Answers questions and file dialogs from queues and records every message,
// so a test can drive a flow that asks and see exactly what it showed.
class ScriptedPrompter : public Prompter {
 public:
  struct Shown {
    QString text;
    QString title;
    MessageIcon icon;
    bool question;
  };

  QList<bool> answers;    // Yes/No answers in order; No once empty
  QStringList openNames;  // open dialog results in order; "" once empty
  QStringList saveNames;  // save dialog results in order; "" once empty
  QList<Shown> shown;     // every message and question, in order

  // Runs while a message box would be open (e.g. to check state at that moment).
  std::function<void(const QString&)> onMessage;

  void showMessage(const QString& text, const QString& title, MessageIcon icon) override {
    shown.append({text, title, icon, false});
    if (onMessage) onMessage(text);
  }
  bool askYesNo(const QString& text, const QString& title, MessageIcon icon,
                const std::function<void()>& onYes) override {
    shown.append({text, title, icon, true});
    const bool yes = answers.isEmpty() ? false : answers.takeFirst();
    if (yes && onYes) onYes();
    return yes;
  }
  QString openFileName(const QString&) override {
    return openNames.isEmpty() ? QString() : openNames.takeFirst();
  }
  QString saveFileName(const QString&) override {
    return saveNames.isEmpty() ? QString() : saveNames.takeFirst();
  }

  // Texts of the messages only (no questions).
  QStringList messages() const {
    QStringList m;
    for (const Shown& s : shown)
      if (!s.question) m << s.text;
    return m;
  }
};
