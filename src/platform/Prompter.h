#pragma once
#include <QString>
#include <functional>

enum class MessageIcon { None, Critical, Question, Information };

// Message boxes and file dialogs, so the flows run with a window, in tests and
// in the headless runner alike. Every call is modal: it returns once answered.
class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual void showMessage(const QString& text, const QString& title = QString(),
                           MessageIcon icon = MessageIcon::None) = 0;
  // True only for the answer Yes. When Yes is chosen while a wait that began
  // inside the question is still running (a timer's flow started meanwhile),
  // the answer cannot return before that wait ends: onYesHeldBack then runs
  // at once instead.
  virtual bool askYesNo(const QString& text, const QString& title = QString(),
                        MessageIcon icon = MessageIcon::None,
                        const std::function<void()>& onYesHeldBack = {}) = 0;
  // Empty when cancelled. The filter is a pattern such as "*.txt".
  virtual QString openFileName(const QString& filter) = 0;
  // Empty when cancelled; the dialog asks before overwriting an existing file.
  virtual QString saveFileName(const QString& filter) = 0;
};
