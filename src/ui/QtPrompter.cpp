#include "ui/QtPrompter.h"

#include <QAbstractButton>
#include <QFileDialog>
#include <QMessageBox>

namespace {

QMessageBox::Icon boxIcon(MessageIcon icon) {
  switch (icon) {
    case MessageIcon::Critical:
      return QMessageBox::Critical;
    case MessageIcon::Question:
      return QMessageBox::Question;
    case MessageIcon::Information:
      return QMessageBox::Information;
    case MessageIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// "*.txt" becomes "*.txt (*.txt)": the dialog shows the pattern as its name.
QString dialogFilter(const QString& filter) {
  return filter.isEmpty() ? QString() : filter + QStringLiteral(" (") + filter + QLatin1Char(')');
}

}  // namespace

QString QtPrompter::programTitle() { return QStringLiteral("Zembrin"); }

void QtPrompter::showMessage(const QString& text, const QString& title, MessageIcon icon) {
  QMessageBox box(boxIcon(icon), title.isEmpty() ? programTitle() : title, text, QMessageBox::Ok,
                  parent_);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

bool QtPrompter::askYesNo(const QString& text, const QString& title, MessageIcon icon,
                          const std::function<void()>& onYes) {
  QMessageBox box(boxIcon(icon), title.isEmpty() ? programTitle() : title, text,
                  QMessageBox::Yes | QMessageBox::No, parent_);
  box.setTextFormat(Qt::PlainText);
  box.setDefaultButton(QMessageBox::Yes);
  box.setEscapeButton(QMessageBox::No);  // closing the box is no Yes
  if (onYes) {
    QObject::connect(&box, &QMessageBox::buttonClicked, &box, [&](QAbstractButton* button) {
      if (box.standardButton(button) == QMessageBox::Yes) onYes();
    });
  }
  return box.exec() == QMessageBox::Yes;
}

QString QtPrompter::openFileName(const QString& filter) {
  return QFileDialog::getOpenFileName(parent_, QString(), QString(), dialogFilter(filter));
}

QString QtPrompter::saveFileName(const QString& filter) {
  // The dialog asks before it lets an existing file be chosen.
  return QFileDialog::getSaveFileName(parent_, QString(), QString(), dialogFilter(filter));
}
