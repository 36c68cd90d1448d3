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
  // True only for the answer Yes. onYes runs the moment Yes is chosen, before
  // the question returns: a flow that a timer started inside the question's
  // modal loop holds that return back until the flow ends.
  virtual bool askYesNo(const QString& text, const QString& title = QString(),
                        MessageIcon icon = MessageIcon::None,
                        const std::function<void()>& onYes = {}) = 0;
  // Empty when cancelled. The filter is a pattern such as "*.txt".
  virtual QString openFileName(const QString& filter) = 0;
  // Empty when cancelled; the dialog asks before overwriting an existing file.
  virtual QString saveFileName(const QString& filter) = 0;
};
