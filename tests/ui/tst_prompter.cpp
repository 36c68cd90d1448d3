#include <QtTest>

#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <functional>

#include "ui/QtPrompter.h"

namespace {

// Runs `act` on the modal dialog once it is open (the prompter's calls block
// until it is closed).
template <typename Dialog>
void whenOpen(const std::function<void(Dialog*)>& act) {
  QTimer::singleShot(0, qApp, [act] {
    auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget());
    if (!d) {
      QTest::qFail("no dialog open", __FILE__, __LINE__);
      if (QWidget* w = QApplication::activeModalWidget()) w->close();
      return;
    }
    act(d);
  });
}

struct BoxSeen {
  QString title, text;
  QMessageBox::Icon icon = QMessageBox::NoIcon;
  QMessageBox::StandardButtons buttons;
  Qt::TextFormat format = Qt::AutoText;
};

BoxSeen look(QMessageBox* box) {
  return {box->windowTitle(), box->text(), box->icon(), box->standardButtons(), box->textFormat()};
}

}  // namespace

class TestPrompter : public QObject {
  Q_OBJECT
 private slots:
  void message_data() {
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("icon");
    QTest::addColumn<QString>("shownTitle");
    QTest::addColumn<int>("shownIcon");
    QTest::newRow("no title: the program's")
        << "" << int(MessageIcon::None) << "Zembrin" << int(QMessageBox::NoIcon);
    QTest::newRow("start-up error") << "Zembrin Error" << int(MessageIcon::Critical)
                                    << "Zembrin Error" << int(QMessageBox::Critical);
    QTest::newRow("information") << "提示" << int(MessageIcon::Information) << "提示"
                                 << int(QMessageBox::Information);
  }
  void message() {
    QFETCH(QString, title);
    QFETCH(int, icon);
    QFETCH(QString, shownTitle);
    QFETCH(int, shownIcon);
    QtPrompter p;
    BoxSeen seen;
    whenOpen<QMessageBox>([&](QMessageBox* box) {
      seen = look(box);
      box->button(QMessageBox::Ok)->click();
    });
    // Markup in a message (a server's reply, a file name) is shown as it is.
    p.showMessage(QStringLiteral("<b>操作完成！</b>"), title, MessageIcon(icon));
    QCOMPARE(seen.title, shownTitle);
    QCOMPARE(int(seen.icon), shownIcon);
    QCOMPARE(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
    QCOMPARE(seen.text, QStringLiteral("<b>操作完成！</b>"));
    QCOMPARE(seen.format, Qt::PlainText);
  }

  void question_data() {
    QTest::addColumn<QString>("press");
    QTest::addColumn<bool>("answer");
    QTest::newRow("Yes") << "yes" << true;
    QTest::newRow("No") << "no" << false;
    QTest::newRow("Escape is no Yes") << "escape" << false;
  }
  void question() {
    QFETCH(QString, press);
    QFETCH(bool, answer);
    QtPrompter p;
    BoxSeen seen;
    whenOpen<QMessageBox>([&](QMessageBox* box) {
      seen = look(box);
      if (press == "yes") box->button(QMessageBox::Yes)->click();
      if (press == "no") box->button(QMessageBox::No)->click();
      if (press == "escape") QTest::keyClick(box, Qt::Key_Escape);
    });
    QCOMPARE(p.askYesNo(QStringLiteral("抢注正在进行中，确认退出吗?"), QStringLiteral("退出"),
                        MessageIcon::Question),
             answer);
    QCOMPARE(seen.title, QStringLiteral("退出"));
    QCOMPARE(seen.icon, QMessageBox::Question);
    QCOMPARE(seen.buttons, QMessageBox::Yes | QMessageBox::No);
  }

  void fileDialogs_data() {
    QTest::addColumn<bool>("save");
    QTest::newRow("open") << false;
    QTest::newRow("save") << true;
  }
  void fileDialogs() {
    QFETCH(bool, save);
    QtPrompter p;
    QStringList filters;
    QFileDialog::AcceptMode mode = QFileDialog::AcceptOpen;
    bool confirmsOverwrite = false;
    whenOpen<QFileDialog>([&](QFileDialog* d) {
      filters = d->nameFilters();
      mode = d->acceptMode();
      confirmsOverwrite = !d->testOption(QFileDialog::DontConfirmOverwrite);
      d->reject();
    });
    const QString chosen =
        save ? p.saveFileName(QStringLiteral("*.txt")) : p.openFileName(QStringLiteral("*.txt"));
    QVERIFY(chosen.isEmpty());  // cancelled
    QCOMPARE(filters, QStringList{QStringLiteral("*.txt (*.txt)")});
    QCOMPARE(mode, save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    if (save) QVERIFY(confirmsOverwrite);
  }
};

QTEST_MAIN(TestPrompter)
#include "tst_prompter.moc"
