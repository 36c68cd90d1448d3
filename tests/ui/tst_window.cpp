#include <QtTest>

#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextDocument>
#include <memory>
#include <system_error>

#include <QTabWidget>
#include <QTableView>
#include "app/TaskWindow.h"
#include "platform/LogBox.h"
#include "support/ScriptedPrompter.h"
#include "support/StubHttpServer.h"
#include "support/StubWhoisServer.h"
#include "ui/App.h"
#include "ui/MainWindow.h"
#include "ui/SettingsDialog.h"
#include "whois/WatchTableModel.h"

namespace {

// The program started as the user starts it, with its settings file in a
// fresh folder of its own.
struct Started {
  QTemporaryDir dir;
  ScriptedPrompter prompter;
  std::unique_ptr<WindowProgram> program;

  explicit Started(const QString& iniPath = QString()) {
    program = std::make_unique<WindowProgram>(
        iniPath.isEmpty() ? dir.filePath(QStringLiteral("zembrin.ini")) : iniPath, prompter);
  }
  ~Started() {
    if (program && program->window) {
      program->window->task().setIntStart(0);
      program->window->task().timer_start = 0;
    }
  }
  MainWindow& win() const { return *program->window; }
  TaskWindow& task() const { return program->window->task(); }
  template <typename W = QWidget>
  W* get(const QString& name) const {
    W* w = program->window->findChild<W*>(name);
    if (!w) qWarning("no control %s", qPrintable(name));
    return w;
  }
  template <typename W = QWidget>
  W* get(Ctl c) const {
    return get<W>(QString::fromLatin1(controlInfo(c).name));
  }
  bool activate() const {
    program->window->activateWindow();
    return QTest::qWaitForWindowActive(program->window.get());
  }
};

// What the lock touches, for every widget of the window.
struct WidgetState {
  QString name;
  bool enabled, readOnly;
  bool operator==(const WidgetState&) const = default;
};

QList<WidgetState> widgetStates(const MainWindow& w) {
  QList<WidgetState> s;
  for (QWidget* child : w.findChildren<QWidget*>()) {
    bool ro = false;
    if (auto* e = qobject_cast<QLineEdit*>(child)) ro = e->isReadOnly();
    if (auto* a = qobject_cast<QPlainTextEdit*>(child)) ro = a->isReadOnly();
    s.append({child->objectName(), child->isEnabled(), ro});
  }
  return s;
}

void sendMouse(QWidget* w, QEvent::Type type, Qt::MouseButton button, QPoint global,
               Qt::MouseButtons held) {
  QMouseEvent e(type, QPointF(w->mapFromGlobal(global)), QPointF(global), button, held,
                Qt::NoModifier);
  QApplication::sendEvent(w, &e);
}

Ctl ctlNamed(const QString& name) {
  for (const ControlInfo& c : allControls())
    if (name == QLatin1String(c.name)) return c.id;
  return Ctl::Count;
}

QStringList directoryEntries(const QString& path) {
  return QDir(path).entryList(QDir::AllEntries | QDir::Hidden | QDir::System |
                              QDir::NoDotAndDotDot);
}

}  // namespace

class TestWindow : public QObject {
  Q_OBJECT
 private slots:
  void initTestCase() { useChineseFont(); }  // as the program does

  void listsAfterStartUp_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<QString>("last");
    QTest::newRow("frequence") << "frequence" << 89 << 0 << "0"
                               << "200";
    QTest::newRow("time_out") << "time_out" << 48 << 4 << "5"
                              << "120";
    QTest::newRow("send_interval") << "send_interval" << 3 << 0 << "秒"
                                   << "小时";
    QTest::newRow("send_time") << "send_time" << 3 << 0 << "秒"
                               << "小时";
    QTest::newRow("time_format") << "time_format" << 43 << 0 << "yyyy-m-d h:mm:ss"
                                 << "Unix timestamp";
  }
  void listsAfterStartUp() {
    QFETCH(QString, name);
    Started s;
    auto* list = s.get<QComboBox>(name);
    QVERIFY(list);
    QVERIFY(!list->isEditable());
    QFETCH(int, count);
    QFETCH(int, index);
    QFETCH(QString, shown);
    QFETCH(QString, last);
    QCOMPARE(list->count(), count);
    QCOMPARE(list->currentIndex(), index);
    QCOMPARE(list->currentText(), shown);
    QCOMPARE(list->itemText(list->count() - 1), last);
    QVERIFY(list->isEnabled());
  }

  void optionsAfterStartUp_data() {
    QTest::addColumn<QString>("group");
    QTest::addColumn<QStringList>("captions");
    QTest::addColumn<int>("selected");
    QTest::newRow("send type") << "radio_send_type" << QStringList{"Get", "Post"} << 0;
    QTest::newRow("post type") << "radio_post_type" << QStringList{"同步(慢)", "异步(快)"} << 0;
    QTest::newRow("send info") << "radio_send_info"
                               << QStringList{"不显示", "第一次显示", "全程显示"} << 2;
    QTest::newRow("return info") << "radio_return_info"
                                 << QStringList{"不返回", "第一次返回", "全程返回"} << 2;
  }
  void optionsAfterStartUp() {
    QFETCH(QString, group);
    QFETCH(QStringList, captions);
    QFETCH(int, selected);
    Started s;
    QStringList shown;
    QList<int> checked;
    for (int i = 0; i < captions.size(); ++i) {
      auto* option = s.get<QRadioButton>(group + '_' + QString::number(i));
      QVERIFY(option);
      QVERIFY(option->isEnabled());
      shown << option->text();
      if (option->isChecked()) checked << i;
    }
    QCOMPARE(shown, captions);
    QCOMPARE(checked, QList<int>{selected});

    // A user's choice moves the selection; exactly one stays selected.
    const int other = (selected + 1) % captions.size();
    QTest::mouseClick(s.get<QRadioButton>(group + '_' + QString::number(other)), Qt::LeftButton);
    QCOMPARE(s.get<QButtonGroup>(group)->checkedId(), other);
    QCOMPARE(s.task().view.index(ctlNamed(group)), other);
    s.task().view.setIndex(ctlNamed(group), selected);
    QVERIFY(s.get<QRadioButton>(group + '_' + QString::number(selected))->isChecked());
    QVERIFY(!s.get<QRadioButton>(group + '_' + QString::number(other))->isChecked());
  }

  void windowAfterStartUp() {
    Started s;
    QVERIFY(s.win().isVisible());
    QCOMPARE(s.win().windowTitle(), QStringLiteral("Zembrin"));
    QVERIFY(s.win().windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(s.win().width() >= 900 && s.win().height() >= 650);
    QVERIFY2(s.prompter.shown.isEmpty(), "start-up showed a message");

    QCOMPARE(s.get<QLabel>(Ctl::Label1)->text(), QStringLiteral("状态：停止"));
    QCOMPARE(s.get<QLabel>(Ctl::Lb_version)->text(), QStringLiteral("  version 1.0.0"));
    QCOMPARE(s.get<QLabel>(Ctl::Label4)->text(), QStringLiteral("任务剩余时间：0"));
    QCOMPARE(s.get<QLabel>(Ctl::Label_timer)->text(), QStringLiteral("剩余时间："));
    QCOMPARE(s.get<QLabel>(Ctl::reg_send)->text(), QStringLiteral("发送表单数量：0"));

    const std::pair<Ctl, QString> buttons[] = {
        {Ctl::regstart, "抢注"},       {Ctl::normalreg, "普通注册"}, {Ctl::regstop, "停止"},
        {Ctl::time_start, "定时开始"}, {Ctl::time_end, "定时停止"},  {Ctl::load_info, "载入"},
        {Ctl::save_info, "保存"},      {Ctl::clear_info, "清除"},    {Ctl::Command1, "时间同步"},
        {Ctl::Command2, "MD5计算器"},  {Ctl::Command3, "Whois 设置"}};
    for (const auto& [c, caption] : buttons) {
      auto* b = s.get<QPushButton>(c);
      QVERIFY(b);
      QCOMPARE(b->text(), caption);
      QCOMPARE(b->isEnabled(), c != Ctl::regstop && c != Ctl::time_end);
    }

    for (auto [c, caption] :
         {std::pair{Ctl::chkbox_utf8, QStringLiteral("使用UTF8编码发送")},
          std::pair{Ctl::chkbox_utf8_return, QStringLiteral("返回信息为UTF8编码")}}) {
      auto* box = s.get<QCheckBox>(c);
      QCOMPARE(box->text(), caption);
      QVERIFY(!box->isChecked());
    }

    for (Ctl c : {Ctl::regsend, Ctl::regresult}) {
      auto* log = s.get<QPlainTextEdit>(c);
      QVERIFY(log->isReadOnly());
      QVERIFY(log->toPlainText().isEmpty());
      QCOMPARE(log->palette().color(QPalette::Base), QColor(0xe0, 0xe0, 0xe0));
      QCOMPARE(log->lineWrapMode(), QPlainTextEdit::NoWrap);
    }

    // The hints in grey; what the user types is black.
    const QColor grey = WidgetView::hintTextColour();
    QVERIFY(grey != QColor(Qt::black));
    QCOMPARE(s.get<QLineEdit>(Ctl::txt_api_url)->text(), texts::kApiHint);
    QCOMPARE(s.get<QLineEdit>(Ctl::md5_var)->text(), texts::kMd5Hint);
    for (Ctl c : {Ctl::txt_api_url, Ctl::md5_var})
      QCOMPARE(s.get(c)->palette().color(QPalette::Text), grey);
    for (Ctl c : {Ctl::domain_var, Ctl::md5_name, Ctl::time_var, Ctl::reg_second, Ctl::common1})
      QCOMPARE(s.get(c)->palette().color(QPalette::Text), QColor(Qt::black));

    auto* duration = s.get<QLineEdit>(Ctl::reg_second);
    QCOMPARE(duration->text(), QStringLiteral("1"));
    QCOMPARE(duration->maxLength(), 7);
    QCOMPARE(s.task().int_start(), qint16(0));
    QCOMPARE(s.task().timer_start, qint16(0));
    for (QTimer* t : {&s.task().Timer1, &s.task().Timer2, &s.task().Timer3, &s.task().Timer4,
                      &s.task().Timer5, &s.task().Timer6})
      QVERIFY(!t->isActive());
  }

  void staticCaptions() {
    Started s;
    QStringList labels;
    for (QLabel* l : s.win().findChildren<QLabel*>()) labels << l->text();
    const QStringList captions = {
        "接口地址：",
        "固定内容：（每变量一行，\"===\"赋值）",
        "动态内容1：",
        "动态内容2：(规则同动态内容1)",
        "(每组变量一行，不同变量用\"|||\"分隔，\"===\"赋值，各行变量名称、顺序必需相同)",
        "域名变量名：",
        "MD5变量组：",
        "＝MD5（",
        "）",
        "时间变量：",
        "格式：",
        "超时时间：",
        "秒",
        "持续时间：",
        "频率：",
        "/每",
        "(0代表不限速)",
        "发送模式：",
        "请求模式：",
        "HTML API 版",
        "发送信息：",
        "返回信息：",
        "年",
        "月",
        "日",
        "时",
        "分"};
    for (const QString& c : captions) QVERIFY2(labels.contains(c), qPrintable(c));
  }

  // One toggle inverts every input, the caller's fix gives the run state,
  // a second toggle brings every widget back.
  void toggleTaskControls_data() {
    QTest::addColumn<QString>("callerDisables");
    QTest::addColumn<QString>("onlyButton");
    QTest::newRow("running") << "time_end"
                             << "regstop";
    QTest::newRow("timed start armed") << "regstop"
                                       << "time_end";
  }
  void toggleTaskControls() {
    QFETCH(QString, callerDisables);
    QFETCH(QString, onlyButton);
    Started s;
    const QList<WidgetState> idle = widgetStates(s.win());

    s.task().ToggleTaskControls();
    s.get(callerDisables)->setEnabled(false);
    for (QPushButton* b : s.win().findChildren<QPushButton*>())
      QVERIFY2(b->isEnabled() == (b->objectName() == onlyButton), qPrintable(b->objectName()));
    for (QLineEdit* e : s.win().findChildren<QLineEdit*>())
      QVERIFY2(e->isReadOnly() && e->isEnabled(), qPrintable(e->objectName()));
    for (Ctl c : {Ctl::common1, Ctl::dyn1, Ctl::dyn2})
      QVERIFY(s.get<QPlainTextEdit>(c)->isReadOnly());
    // Inverted, not set: the logs, read-only when idle, are writable now.
    for (Ctl c : {Ctl::regsend, Ctl::regresult}) QVERIFY(!s.get<QPlainTextEdit>(c)->isReadOnly());
    for (QComboBox* l : s.win().findChildren<QComboBox*>()) QVERIFY(!l->isEnabled());
    for (QRadioButton* r : s.win().findChildren<QRadioButton*>()) QVERIFY(!r->isEnabled());
    for (QCheckBox* c : s.win().findChildren<QCheckBox*>()) QVERIFY(!c->isEnabled());
    // The handles and pictures stay usable.
    for (const char* name : {"Image1", "Image2", "Image3", "Lb_version"})
      QVERIFY(s.get(QString::fromLatin1(name))->isEnabled());

    s.get(callerDisables)->setEnabled(true);
    s.task().ToggleTaskControls();
    QCOMPARE(widgetStates(s.win()), idle);
  }

  void exitQuestion_data() {
    QTest::addColumn<int>("intStart");
    QTest::addColumn<int>("timerStart");
    QTest::addColumn<bool>("answer");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<bool>("closes");
    QTest::newRow("idle: no question") << 0 << 0 << false << false << true;
    QTest::newRow("running, Yes") << 1 << 0 << true << true << true;
    QTest::newRow("running, No keeps the window") << 1 << 0 << false << true << false;
    QTest::newRow("timed start armed, No") << 0 << 1 << false << true << false;
    QTest::newRow("timed start armed, Yes") << 0 << 1 << true << true << true;
  }
  void exitQuestion() {
    QFETCH(int, intStart);
    QFETCH(int, timerStart);
    QFETCH(bool, asked);
    QFETCH(bool, closes);
    QFETCH(bool, answer);
    Started s;
    s.program->dialog->show();
    s.task().setIntStart(qint16(intStart));
    s.task().timer_start = qint16(timerStart);
    s.prompter.answers = {answer};

    // The close picture, as the user closes the window.
    QTest::mouseClick(s.get("Image2"), Qt::LeftButton);
    QCOMPARE(s.win().isVisible(), !closes);
    QCOMPARE(s.program->dialog->isVisible(), !closes);  // every window goes
    QCOMPARE(s.prompter.shown.size(), asked ? 1 : 0);
    if (asked) {
      QCOMPARE(s.prompter.shown[0].text, QStringLiteral("抢注正在进行中，确认退出吗?"));
      QCOMPARE(s.prompter.shown[0].title, QStringLiteral("退出"));
      QCOMPARE(s.prompter.shown[0].icon, MessageIcon::Question);
      QVERIFY(s.prompter.shown[0].question);
    }
    // A kept window runs on untouched.
    QCOMPARE(s.task().int_start(), qint16(intStart));
    QCOMPARE(s.task().timer_start, qint16(timerStart));
  }

  void startAndCloseLeaveFilesAlone_data() {
    QTest::addColumn<QByteArray>("ini");
    QTest::newRow("no settings file") << QByteArray();
    QTest::newRow("settings file") << QByteArray("[option]\r\nwhois_time=3\r\n");
  }
  void startAndCloseLeaveFilesAlone() {
    QFETCH(QByteArray, ini);
    QTemporaryDir dir;
    const QString iniPath = dir.filePath(QStringLiteral("zembrin.ini"));
    if (!ini.isNull()) {
      QFile f(iniPath);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(ini);
    }
    {
      Started s(iniPath);
      QVERIFY(s.win().isVisible());
      QVERIFY(s.win().close());
      QVERIFY(!s.win().isVisible());
    }
    // Only the settings file is there: kept byte for byte, or, where it was
    // missing, created empty by the load as the settings store does.
    QCOMPARE(directoryEntries(dir.path()), QStringList{QStringLiteral("zembrin.ini")});
    QFile f(iniPath);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), ini.isNull() ? QByteArray("") : ini);
  }

  // A settings file that cannot be read or a folder that does not exist
  // still brings up the idle window with the defaults.
  void startUpWithoutUsableSettingsPlace_data() {
    QTest::addColumn<QString>("relativePath");
    QTest::newRow("folder missing") << "missing/zembrin.ini";
    QTest::newRow("path is a folder") << "folder";
  }
  void startUpWithoutUsableSettingsPlace() {
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
    QFETCH(QString, relativePath);
    const QStringList before = directoryEntries(dir.path());
    {
      Started s(dir.filePath(relativePath));
      QVERIFY(s.program->window);
      QVERIFY(s.win().isVisible());
      QCOMPARE(s.get<QLabel>(Ctl::Label1)->text(), QStringLiteral("状态：停止"));
      QCOMPARE(s.get<QComboBox>(Ctl::time_out)->currentText(), QStringLiteral("5"));
      QCOMPARE(s.program->settings.whois_timeout, qint16(5));
      for (const ScriptedPrompter::Shown& m : s.prompter.shown) {
        QCOMPARE(m.title, QStringLiteral("Zembrin Error"));
        QCOMPARE(m.icon, MessageIcon::Critical);
      }
      QVERIFY(s.win().close());
    }
    QCOMPARE(directoryEntries(dir.path()), before);
  }

  void startupErrorText_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("text");
    QTest::newRow("system error keeps its code") << "system"
                                                 << "boom: No such file or directory (2)";
    QTest::newRow("out of memory") << "memory"
                                   << "Out of memory (7)";
    QTest::newRow("other error") << "other"
                                 << "bad value (5)";
  }
  void startupErrorText() {
    QFETCH(QString, kind);
    QFETCH(QString, text);
    std::exception_ptr e;
    if (kind == "system")
      e = std::make_exception_ptr(std::system_error(ENOENT, std::generic_category(), "boom"));
    else if (kind == "memory")
      e = std::make_exception_ptr(std::bad_alloc());
    else
      e = std::make_exception_ptr(std::invalid_argument("bad value"));
    QCOMPARE(::startupErrorText(e), text);
    QCOMPARE(startupErrorTitle(), QStringLiteral("Zembrin Error"));
  }

  // Clicks (mouse only) take the hint away; leaving an empty box puts it back.
  void hints_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("typed");  // text in the box before the action, "" = the hint
    QTest::addColumn<QString>("after");  // "" = the hint
    QTest::addColumn<bool>("grey");
    for (const char* box : {"txt_api_url", "md5_var"}) {
      const QString b = QString::fromLatin1(box);
      QTest::addRow("%s click on the hint", box) << b << "click"
                                                 << ""
                                                 << "<empty>" << false;
      QTest::addRow("%s double click on the hint", box) << b << "dblclick"
                                                        << ""
                                                        << "<empty>" << false;
      QTest::addRow("%s right click keeps the hint", box) << b << "rightclick"
                                                          << ""
                                                          << "" << true;
      QTest::addRow("%s reached by keyboard keeps the hint", box) << b << "tab"
                                                                  << ""
                                                                  << "" << true;
      QTest::addRow("%s click then leave restores", box) << b << "click,leave"
                                                         << ""
                                                         << "" << true;
      QTest::addRow("%s click in typed text", box) << b << "click"
                                                   << "abc"
                                                   << "abc" << false;
      QTest::addRow("%s leave with text keeps it", box) << b << "leave"
                                                        << "abc"
                                                        << "abc" << false;
      QTest::addRow("%s leave with blanks keeps them", box) << b << "leave"
                                                            << "  "
                                                            << "  " << false;
      QTest::addRow("%s menu pop-up is no leaving", box) << b << "click,popup"
                                                         << ""
                                                         << "<empty>" << false;
    }
  }
  void hints() {
    QFETCH(QString, box);
    QFETCH(QString, action);
    QFETCH(QString, typed);
    QFETCH(QString, after);
    QFETCH(bool, grey);
    Started s;
    QVERIFY(s.activate());
    auto* e = s.get<QLineEdit>(box);
    auto* elsewhere = s.get<QLineEdit>(Ctl::domain_var);
    const QString hint = box == "txt_api_url" ? texts::kApiHint : texts::kMd5Hint;
    if (!typed.isEmpty()) {
      e->setFocus();
      e->setText(typed);
      s.task().view.setHintColour(ctlNamed(box), false);
    }
    for (const QString& step : action.split(',')) {
      if (step == "click") {
        QTest::mouseClick(e, Qt::LeftButton);
      } else if (step == "rightclick") {
        sendMouse(e, QEvent::MouseButtonPress, Qt::RightButton, e->mapToGlobal(QPoint(5, 5)),
                  Qt::RightButton);
        sendMouse(e, QEvent::MouseButtonRelease, Qt::RightButton, e->mapToGlobal(QPoint(5, 5)), {});
      } else if (step == "dblclick") {
        sendMouse(e, QEvent::MouseButtonDblClick, Qt::LeftButton, e->mapToGlobal(QPoint(5, 5)),
                  Qt::LeftButton);
      } else if (step == "tab") {
        e->setFocus(Qt::TabFocusReason);
      } else if (step == "leave") {
        e->setFocus();
        elsewhere->setFocus(Qt::TabFocusReason);
      } else if (step == "popup") {
        QFocusEvent out(QEvent::FocusOut, Qt::PopupFocusReason);
        QApplication::sendEvent(e, &out);
      }
    }
    QCOMPARE(e->text(), after == "<empty>" ? QString() : after.isEmpty() ? hint : after);
    QCOMPARE(e->palette().color(QPalette::Text) == WidgetView::hintTextColour(), grey);
  }

  void utf8BoxesFollowTheUsersClicks_data() {
    QTest::addColumn<QString>("box");
    QTest::newRow("send") << "chkbox_utf8";
    QTest::newRow("reply") << "chkbox_utf8_return";
  }
  void utf8BoxesFollowTheUsersClicks() {
    QFETCH(QString, box);
    Started s;
    const qint16& flag = box == "chkbox_utf8" ? s.task().utf8_send : s.task().utf8_reply;
    auto* b = s.get<QCheckBox>(box);
    QTest::mouseClick(b, Qt::LeftButton);
    QVERIFY(b->isChecked());
    QCOMPARE(flag, qint16(-1));
    b->setChecked(false);  // from code: the flag is the caller's business
    QCOMPARE(flag, qint16(-1));
    QTest::mouseClick(b, Qt::LeftButton);
    QCOMPARE(flag, qint16(0));
  }

  void buttonsReachTheirHandlers() {
    Started s;
    QTest::mouseClick(s.get(Ctl::clear_info), Qt::LeftButton);
    QCOMPARE(s.prompter.shown.size(), 1);
    QCOMPARE(s.prompter.shown[0].text, QStringLiteral("确定清除吗？"));

    // The settings button shows the dialog modally; the click returns once it is closed.
    bool modal = false;
    QTimer::singleShot(0, s.program->dialog.get(), [&] {
      modal = s.program->dialog->isVisible() &&
              QApplication::activeModalWidget() == s.program->dialog.get();
      s.program->dialog->reject();
    });
    QTest::mouseClick(s.get(Ctl::Command3), Qt::LeftButton);
    QVERIFY(modal);
    QVERIFY(!s.program->dialog->isVisible());
  }

  void movesByLeftButtonOnly_data() {
    QTest::addColumn<QString>("handle");
    QTest::addColumn<int>("button");
    QTest::addColumn<bool>("moves");
    for (const char* handle : {"Image1", "Lb_version"}) {
      QTest::addRow("%s left", handle) << handle << int(Qt::LeftButton) << true;
      QTest::addRow("%s right", handle) << handle << int(Qt::RightButton) << false;
      QTest::addRow("%s middle", handle) << handle << int(Qt::MiddleButton) << false;
    }
  }
  void movesByLeftButtonOnly() {
    QFETCH(QString, handle);
    QFETCH(int, button);
    QFETCH(bool, moves);
    const auto mouseButton = Qt::MouseButton(button);
    Started s;
    s.win().move(100, 100);
    const QPoint start = s.win().pos();
    QWidget* h = s.get(handle);
    const QPoint grab = h->mapToGlobal(QPoint(5, 5));
    sendMouse(h, QEvent::MouseButtonPress, mouseButton, grab, mouseButton);
    sendMouse(h, QEvent::MouseMove, Qt::NoButton, grab + QPoint(60, 40), mouseButton);
    sendMouse(h, QEvent::MouseButtonRelease, mouseButton, grab + QPoint(60, 40), {});
    QCOMPARE(s.win().pos(), moves ? start + QPoint(60, 40) : start);
  }

  void minimisePicture() {
    Started s;
    QTest::mouseClick(s.get("Image3"), Qt::RightButton);
    QVERIFY(!s.win().isMinimized());
    QTest::mouseClick(s.get("Image3"), Qt::LeftButton);
    QVERIFY(s.win().isMinimized());
    QTest::mouseClick(s.get("Image2"), Qt::RightButton);
    QVERIFY(s.win().isVisible());
  }

  // The logic exchanges CR LF; the box keeps every other character as typed.
  void textAreaRoundTrip_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("lines");
    QTest::newRow("empty") << "" << 1;
    QTest::newRow("two lines") << "a===1\r\nb===2" << 2;
    QTest::newRow("trailing break") << "a\r\n" << 2;
    QTest::newRow("empty lines") << "\r\n\r\n" << 3;
    QTest::newRow("no-break space and tab") << QStringLiteral("x\u00a0y\tz") << 1;
    QTest::newRow("chinese") << QStringLiteral("域名===例子.中国\r\n") << 2;
  }
  void textAreaRoundTrip() {
    QFETCH(QString, text);
    Started s;
    TaskView& v = s.task().view;
    v.setText(Ctl::common1, text);
    QFETCH(int, lines);
    QCOMPARE(s.get<QPlainTextEdit>(Ctl::common1)->document()->blockCount(), lines);
    QCOMPARE(v.text(Ctl::common1), text);
    QCOMPARE(v.textLength(Ctl::common1), text.size());
  }

  void logAppendsWithoutRewriting() {
    Started s;
    s.win().resize(s.win().size());
    TaskView& v = s.task().view;
    auto* log = s.get<QPlainTextEdit>(Ctl::regresult);
    QList<QList<int>> changes;
    connect(log->document(), &QTextDocument::contentsChange, log,
            [&](int pos, int removed, int added) {
              changes.append({pos, removed, added});
            });
    QString expected;
    for (int i = 0; i < 40; ++i) {
      const QString entry = QStringLiteral("HTTP/1.1 200 OK\r\n第%1条").arg(i);
      appendLog(v, Ctl::regresult, entry);
      expected += entry + QStringLiteral("\r\n\r\n\r\n");
    }
    QCOMPARE(v.text(Ctl::regresult), expected);
    QCOMPARE(v.textLength(Ctl::regresult), expected.size());
    for (const QList<int>& c : changes) QCOMPARE(c[1], 0);  // nothing removed or rewritten
    QScrollBar* bar = log->verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
  }

  // A run's log lines and status texts reach the widgets from the event loop,
  // so a request never waits for a log box's layout; reads see them at once
  // and the widgets end up showing the same entries in the same order.
  void logAndStatusAreAppliedFromTheEventLoop() {
    Started s;
    TaskView& v = s.task().view;
    auto* log = s.get<QPlainTextEdit>(Ctl::regsend);
    appendLog(v, Ctl::regsend, QStringLiteral("a=1"));
    v.setText(Ctl::Label1, QStringLiteral("状态：发送数据中......"));
    appendLog(v, Ctl::regsend, QStringLiteral("a=2"));
    QVERIFY(log->document()->isEmpty());
    QCOMPARE(s.get<QLabel>(Ctl::Label1)->text(), QStringLiteral("状态：停止"));
    QCOMPARE(v.textLength(Ctl::regsend), 2 * QStringLiteral("a=1\r\n\r\n\r\n").size());
    QCOMPARE(v.text(Ctl::Label1), QStringLiteral("状态：发送数据中......"));

    QTRY_COMPARE(log->toPlainText(), QStringLiteral("a=1\n\n\na=2\n\n\n"));
    QCOMPARE(s.get<QLabel>(Ctl::Label1)->text(), QStringLiteral("状态：发送数据中......"));
    v.setText(Ctl::regsend, QString());  // emptying drops nothing pending later
    QCOMPARE(v.text(Ctl::regsend), QString());
  }

  // Renders the window as the user sees it; with ZEMBRIN_SCREENSHOT set, the
  // picture is saved there.
  void windowRenders() {
    Started s;
    const QImage shot = s.win().grab().toImage();
    QCOMPARE(shot.size(), s.win().size() * s.win().devicePixelRatio());
    // The close picture draws a light cross on the dark title band.
    QWidget* close = s.get("Image2");
    const QRect r(close->mapTo(&s.win(), QPoint(0, 0)), close->size());
    const QColor band = shot.pixelColor(r.topLeft() + QPoint(2, 2));
    QVERIFY(band.lightness() < 110);
    QVERIFY(shot.pixelColor(r.center()).lightness() > 180);
    const QByteArray target = qgetenv("ZEMBRIN_SCREENSHOT");
    if (!target.isEmpty()) QVERIFY(shot.save(QString::fromLocal8Bit(target)));
  }

  // A WHOIS catch in the window: while it runs, its domains stand in the
  // watch table on the tab beside the log boxes, with their states, and the
  // log boxes fill as before. With ZEMBRIN_WATCH_SCREENSHOT set, the window
  // is saved there mid-run with the table showing (docs/window.png).
  void watchTableShowsARun() {
    Started s;
    StubHttpServer registrar(StubHttpServer::Threading::OwnThread);
    StubWhoisServer whois(StubWhoisServer::Threading::OwnThread);
    QVERIFY(registrar.listen() && whois.listen());
    StubHttpServer::Reply ok;
    ok.body = "{\"code\":0,\"msg\":\"ok\"}";
    registrar.setReply(ok);
    const QStringList domains = {
        "zembrin.com",  "example-shop.com", "tea-house.com", "dragonfly.com",  "cloud-nine.com",
        "bluefish.com", "lantern.com",      "mooncake.com",  "panda-mail.com", "silkroad.com"};
    for (int i = 0; i < domains.size(); ++i) {
      const QDate expiry = QDate::currentDate().addDays(i % 3 == 0 ? 400 : 10 + 7 * i);
      StubWhoisServer::Script reply =
          StubWhoisServer::reply(("Domain Name: " + domains[i].toUpper() + "\r\nExpiration Date: " +
                                  expiry.toString(Qt::ISODate) + "T04:00:00Z\r\n")
                                     .toUtf8());
      reply.delayMs = 40 + 15 * i;
      whois.setScript(domains[i], reply);
    }
    whois.setScript("lantern.com", StubWhoisServer::reply("No match for \"LANTERN.COM\".\r\n"));
    whois.setScript("panda-mail.com", StubWhoisServer::reply("Query rate limit exceeded\r\n"));
    ServerRow row{".com",
                  "127.0.0.1",
                  QString::number(whois.port()),
                  "No match for",
                  "Expiration Date: ",
                  "",
                  "20",
                  "4",
                  ""};
    s.program->settings.whois_servers = {row};
    s.program->settings.whois_after_reg = false;
    TaskView& v = s.task().view;
    s.task().removeHint(Ctl::txt_api_url);
    v.setText(Ctl::txt_api_url, registrar.url("/api/register"));
    v.setText(Ctl::common1, "username===demo\r\napikey===k-3f9a");
    QStringList lines;
    for (const QString& d : domains) lines << "domain===" + d + "|||period===1";
    v.setText(Ctl::dyn1, lines.join("\r\n"));
    v.setText(Ctl::domain_var, "domain");
    v.setIndex(Ctl::radio_post_type, 1);

    auto* tabs = s.get<QTabWidget>("run_tabs");
    auto* table = s.get<QTableView>("whois_watch");
    QVERIFY(tabs && table);
    QCOMPARE(tabs->tabText(0), QStringLiteral("发送/返回信息"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Whois监视"));
    QStringList shownStates;
    QTimer::singleShot(1200, [&] {
      tabs->setCurrentIndex(1);
      QTRY_VERIFY(table->isVisible());
      QTest::qWait(2 * WatchTableModel::kRefreshMs);
      QAbstractItemModel* m = table->model();
      for (int r = 0; r < m->rowCount(); ++r)
        shownStates << m->index(r, WatchTableModel::State).data().toString();
      const QByteArray target = qgetenv("ZEMBRIN_WATCH_SCREENSHOT");
      if (!target.isEmpty()) s.win().grab().save(QString::fromLocal8Bit(target));
      s.task().regstop_Click();
    });
    s.task().regstart_Click();
    QCOMPARE(table->model()->rowCount(), domains.size());
    QVERIFY2(shownStates.contains(WatchTableModel::stateText(whois::WatchState::Registering)),
             qPrintable(shownStates.join(u',')));
    QVERIFY(shownStates.contains(WatchTableModel::stateText(whois::WatchState::GivenUp)));
    QVERIFY(shownStates.contains(WatchTableModel::stateText(whois::WatchState::Limited)));
    int registrations = 0;  // warm-ups to the registrar do not count
    for (const StubHttpServer::Request& r : registrar.requests())
      registrations += r.method != "HEAD" && r.target.startsWith("/api/register");
    QCOMPARE(registrations, 1);
    // The log boxes got their lines, the table did not take their place.
    QVERIFY(s.task()
                .view.text(Ctl::regresult)
                .contains(QStringLiteral(" 域名 lantern.com 已删除，开始抢注！")));
    QVERIFY(s.task()
                .view.text(Ctl::regsend)
                .contains(QStringLiteral("Sending Whois data: zembrin.com")));
  }
};

QTEST_MAIN(TestWindow)
#include "tst_window.moc"
