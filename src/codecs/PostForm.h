#pragma once
#include <QString>

// Builds a form body of name=value pairs joined by "&". Nothing is encoded
// here; callers encode values first when they want encoding.
class PostForm {
 public:
  QString Form;
  QString Form1;  // saved copy: the fixed-content body
  void AddItem(const QString& name, const QString& value);
};
