#include "codecs/PostForm.h"

void PostForm::AddItem(const QString& name, const QString& value) {
  if (!Form.isEmpty()) Form += QLatin1Char('&');
  Form += name + QLatin1Char('=') + value;
}
