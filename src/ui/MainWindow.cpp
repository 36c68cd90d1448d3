#include "ui/MainWindow.h"

#include <QButtonGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDialog>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSortFilterProxyModel>
#include <QTabWidget>
#include <QTableView>
#include <QVBoxLayout>
#include <QWindow>

#include "app/TaskWindow.h"
#include "ui/DesktopNotifier.h"
#include "ui/Pictures.h"
#include "whois/WatchTableModel.h"

namespace {

constexpr QSize kWindowSize(1000, 720);
const QColor kLogBackground(0xe0, 0xe0, 0xe0);
const QColor kBorder(0x16, 0x3d, 0x68);

// A static caption that labels an input area; shown exactly as written.
QLabel* caption(const QString& text, QWidget* buddy = nullptr) {
  auto* l = new QLabel(text);
  l->setTextFormat(Qt::PlainText);
  if (buddy) l->setBuddy(buddy);
  return l;
}

QFrame* separator() {
  auto* line = new QFrame;
  line->setFrameShape(QFrame::HLine);
  line->setFrameShadow(QFrame::Sunken);
  return line;
}

}  // namespace

MainWindow::MainWindow(Prompter& prompter, Settings& settings, SettingsDialogState& dialogState,
                       QString settingsPath, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("Zembrin"));
  buildControls();
  // The design-time captions, hints and states are applied here, through
  // the view, before any handler can run.
  task_ =
      std::make_unique<TaskWindow>(view_, prompter, settings, dialogState, std::move(settingsPath));
  connectHandlers();
  setWindowIcon(programIcon());
  notifier_ = std::make_unique<DesktopNotifier>(task_->events, windowIcon());
  // A notice (a setting replaced, the clock offset, the log file failing) is
  // said beside the count-down, where the run's status texts do not cover it
  // at once; the tool tip keeps it whole where the label is too short.
  connect(&task_->events, &RunEvents::notice, this,
          [this](const QString& text) { view_.widget(Ctl::Label_notice)->setToolTip(text); });
  showWatchTable();
  setFixedSize(kWindowSize.expandedTo(minimumSizeHint()));
}

MainWindow::~MainWindow() {
  // The widgets outlive the task logic by a moment during QWidget's teardown
  // (a box losing the focus, a button's signal): cut them off from it first.
  for (QObject* child : findChildren<QObject*>()) {
    child->disconnect(this);
    child->removeEventFilter(this);
  }
  notifier_.reset();
  task_.reset();
}

void MainWindow::setSettingsDialog(QDialog* dialog) {
  task_->showSettingsDialog = [this, dialog] {
    if (!dialog) return;
    // Over the task window, which waits until the dialog is closed. Until
    // it is resized, a window takes its size hint when shown.
    const QSize size = dialog->testAttribute(Qt::WA_Resized) || !dialog->sizeHint().isValid()
                           ? dialog->size()
                           : dialog->sizeHint();
    dialog->move(geometry().center() - QPoint(size.width() / 2, size.height() / 2));
    dialog->exec();
  };
}

void MainWindow::buildControls() {
  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(1, 1, 1, 1);  // room for the painted border
  outer->setSpacing(0);
  outer->addWidget(buildTitleBand());

  auto* body = new QVBoxLayout;
  body->setContentsMargins(14, 10, 14, 12);
  body->setSpacing(10);
  auto* columns = new QHBoxLayout;
  columns->setSpacing(22);
  columns->addLayout(buildTaskArea(), 6);
  auto* divider = new QFrame;
  divider->setFrameShape(QFrame::VLine);
  divider->setFrameShadow(QFrame::Sunken);
  columns->addWidget(divider);
  columns->addLayout(buildRunArea(), 4);
  body->addLayout(columns, 1);
  body->addWidget(buildLogArea());
  outer->addLayout(body, 1);
}

QWidget* MainWindow::buildTitleBand() {
  auto* band = new TitleBand;
  band->setFixedHeight(40);
  auto* row = new QHBoxLayout(band);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(0);

  title_ = new WindowPicture(WindowPicture::Kind::Title);
  title_->setObjectName(QStringLiteral("Image1"));
  auto* version = new QLabel;
  version->setObjectName(QString::fromLatin1(controlInfo(Ctl::Lb_version).name));
  version->setTextFormat(Qt::PlainText);
  version->setCursor(Qt::SizeAllCursor);
  QPalette vp = version->palette();
  vp.setColor(QPalette::WindowText, QColor(0xdc, 0xe6, 0xf2));
  version->setPalette(vp);
  view_.bind(Ctl::Lb_version, version);
  minimise_ = new WindowPicture(WindowPicture::Kind::Minimise);
  minimise_->setObjectName(QStringLiteral("Image3"));
  close_ = new WindowPicture(WindowPicture::Kind::Close);
  close_->setObjectName(QStringLiteral("Image2"));

  row->addWidget(title_, 1);
  row->addWidget(version);
  row->addSpacing(14);
  row->addWidget(minimise_);
  row->addWidget(close_);

  title_->installEventFilter(this);
  version->installEventFilter(this);
  return band;
}

QLayout* MainWindow::buildTaskArea() {
  auto lineEdit = [this](Ctl c) {
    auto* e = new QLineEdit;
    e->setObjectName(QString::fromLatin1(controlInfo(c).name));
    view_.bind(c, e);
    view_.setHintColour(c, false);
    return e;
  };
  auto textArea = [this](Ctl c) {
    auto* a = new QPlainTextEdit;
    a->setObjectName(QString::fromLatin1(controlInfo(c).name));
    a->setLineWrapMode(QPlainTextEdit::NoWrap);
    a->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    a->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    a->setTabChangesFocus(true);
    a->setMinimumHeight(52);
    view_.bind(c, a);
    view_.setHintColour(c, false);
    return a;
  };

  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(6);
  grid->setColumnStretch(1, 1);
  int row = 0;

  QLineEdit* api = lineEdit(Ctl::txt_api_url);
  grid->addWidget(caption(QStringLiteral("接口地址："), api), row, 0);
  grid->addWidget(api, row++, 1);

  QPlainTextEdit* common = textArea(Ctl::common1);
  grid->addWidget(caption(QStringLiteral("固定内容：（每变量一行，\"===\"赋值）"), common), row++,
                  0, 1, 2);
  grid->addWidget(common, row++, 0, 1, 2);

  QPlainTextEdit* dyn1 = textArea(Ctl::dyn1);
  auto* dyn1Head = new QHBoxLayout;
  dyn1Head->setSpacing(6);
  dyn1Head->addWidget(caption(QStringLiteral("动态内容1："), dyn1), 0, Qt::AlignTop);
  QLabel* rules = caption(QStringLiteral(
      "(每组变量一行，不同变量用\"|||\"分隔，\"===\"赋值，各行变量名称、顺序必需相同)"));
  rules->setWordWrap(true);
  QPalette rp = rules->palette();
  rp.setColor(QPalette::WindowText, QColor(0x50, 0x50, 0x50));
  rules->setPalette(rp);
  dyn1Head->addWidget(rules, 1);
  grid->addLayout(dyn1Head, row++, 0, 1, 2);
  grid->addWidget(dyn1, row++, 0, 1, 2);

  QPlainTextEdit* dyn2 = textArea(Ctl::dyn2);
  grid->addWidget(caption(QStringLiteral("动态内容2：(规则同动态内容1)"), dyn2), row++, 0, 1, 2);
  grid->addWidget(dyn2, row++, 0, 1, 2);

  QLineEdit* domain = lineEdit(Ctl::domain_var);
  grid->addWidget(caption(QStringLiteral("域名变量名："), domain), row, 0);
  grid->addWidget(domain, row++, 1);

  QLineEdit* md5Name = lineEdit(Ctl::md5_name);
  md5Name->setFixedWidth(110);
  QLineEdit* md5Var = lineEdit(Ctl::md5_var);
  auto* md5Row = new QHBoxLayout;
  md5Row->setSpacing(4);
  md5Row->addWidget(md5Name);
  md5Row->addWidget(caption(QStringLiteral("＝MD5（"), md5Var));
  md5Row->addWidget(md5Var, 1);
  md5Row->addWidget(caption(QStringLiteral("）")));
  grid->addWidget(caption(QStringLiteral("MD5变量组："), md5Name), row, 0);
  grid->addLayout(md5Row, row++, 1);

  QLineEdit* timeVar = lineEdit(Ctl::time_var);
  timeVar->setFixedWidth(110);
  auto* timeFormat = new QComboBox;
  timeFormat->setObjectName(QString::fromLatin1(controlInfo(Ctl::time_format).name));
  timeFormat->setMaxVisibleItems(20);
  view_.bind(Ctl::time_format, timeFormat);
  auto* timeRow = new QHBoxLayout;
  timeRow->setSpacing(4);
  timeRow->addWidget(timeVar);
  timeRow->addSpacing(12);
  timeRow->addWidget(caption(QStringLiteral("格式："), timeFormat));
  timeRow->addWidget(timeFormat, 1);
  grid->addWidget(caption(QStringLiteral("时间变量："), timeVar), row, 0);
  grid->addLayout(timeRow, row++, 1);

  grid->setRowStretch(2, 1);
  grid->setRowStretch(4, 1);
  grid->setRowStretch(6, 1);
  return grid;
}

namespace {

QWidget* makeOptions(WidgetView& view, Ctl group) {
  const QString name = QString::fromLatin1(controlInfo(group).name);
  auto* frame = new QFrame;
  frame->setObjectName(name);
  auto* buttons = new QButtonGroup(frame);
  buttons->setObjectName(name);
  auto* row = new QHBoxLayout(frame);
  row->setContentsMargins(0, 0, 0, 0);
  row->setSpacing(14);
  const QStringList captions = optionCaptions(group);
  for (int i = 0; i < captions.size(); ++i) {
    auto* option = new QRadioButton(captions[i]);
    option->setObjectName(name + QLatin1Char('_') + QString::number(i));
    buttons->addButton(option, i);
    row->addWidget(option);
  }
  row->addStretch(1);
  view.bindOptions(group, buttons);
  return frame;
}

QComboBox* makeList(WidgetView& view, Ctl c, int width) {
  auto* list = new QComboBox;
  list->setObjectName(QString::fromLatin1(controlInfo(c).name));
  list->setMaxVisibleItems(16);
  list->setFixedWidth(width);
  view.bind(c, list);
  return list;
}

QPushButton* makeButton(WidgetView& view, Ctl c) {
  auto* b = new QPushButton;
  b->setObjectName(QString::fromLatin1(controlInfo(c).name));
  b->setAutoDefault(false);
  b->setMinimumHeight(30);
  view.bind(c, b);
  return b;
}

QLabel* makeLabel(WidgetView& view, Ctl c) {
  auto* l = new QLabel;
  l->setObjectName(QString::fromLatin1(controlInfo(c).name));
  l->setTextFormat(Qt::PlainText);
  // Status texts change many times a second: they take the room they are
  // given and never make the layout move.
  l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  view.bind(c, l);
  return l;
}

// The send options: request kind and mode, time-out, duration, rate and
// the encodings.
QLayout* makeSendOptions(WidgetView& view) {
  auto* grid = new QGridLayout;
  grid->setHorizontalSpacing(8);
  grid->setVerticalSpacing(8);
  grid->setColumnStretch(1, 1);
  int row = 0;

  grid->addWidget(caption(QStringLiteral("发送模式：")), row, 0);
  grid->addWidget(makeOptions(view, Ctl::radio_send_type), row++, 1);

  auto* requestRow = new QHBoxLayout;
  requestRow->setSpacing(14);
  requestRow->addWidget(makeOptions(view, Ctl::radio_post_type));
  QLabel* edition = caption(QStringLiteral("HTML API 版"));
  QPalette ep = edition->palette();
  ep.setColor(QPalette::WindowText, QColor(0x50, 0x50, 0x50));
  edition->setPalette(ep);
  requestRow->addWidget(edition);
  requestRow->addStretch(1);
  grid->addWidget(caption(QStringLiteral("请求模式：")), row, 0);
  grid->addLayout(requestRow, row++, 1);

  QComboBox* timeOut = makeList(view, Ctl::time_out, 70);
  auto* timeOutRow = new QHBoxLayout;
  timeOutRow->setSpacing(6);
  timeOutRow->addWidget(timeOut);
  timeOutRow->addWidget(caption(QStringLiteral("秒")));
  timeOutRow->addStretch(1);
  grid->addWidget(caption(QStringLiteral("超时时间："), timeOut), row, 0);
  grid->addLayout(timeOutRow, row++, 1);

  auto* duration = new QLineEdit;
  duration->setObjectName(QString::fromLatin1(controlInfo(Ctl::reg_second).name));
  duration->setMaxLength(7);
  duration->setFixedWidth(70);
  view.bind(Ctl::reg_second, duration);
  view.setHintColour(Ctl::reg_second, false);
  auto* durationRow = new QHBoxLayout;
  durationRow->setSpacing(6);
  durationRow->addWidget(duration);
  durationRow->addWidget(makeList(view, Ctl::send_time, 70));
  durationRow->addStretch(1);
  grid->addWidget(caption(QStringLiteral("持续时间："), duration), row, 0);
  grid->addLayout(durationRow, row++, 1);

  QComboBox* frequency = makeList(view, Ctl::frequence, 70);
  auto* frequencyRow = new QHBoxLayout;
  frequencyRow->setSpacing(6);
  frequencyRow->addWidget(frequency);
  frequencyRow->addWidget(caption(QStringLiteral("/每")));
  frequencyRow->addWidget(makeList(view, Ctl::send_interval, 70));
  frequencyRow->addWidget(caption(QStringLiteral("(0代表不限速)")));
  frequencyRow->addStretch(1);
  grid->addWidget(caption(QStringLiteral("频率："), frequency), row, 0);
  grid->addLayout(frequencyRow, row++, 1);

  // The encodings of what is sent and what comes back, with the send options.
  auto* checks = new QHBoxLayout;
  checks->setSpacing(24);
  for (Ctl c : {Ctl::chkbox_utf8, Ctl::chkbox_utf8_return}) {
    auto* box = new QCheckBox;
    box->setObjectName(QString::fromLatin1(controlInfo(c).name));
    view.bind(c, box);
    checks->addWidget(box);
  }
  checks->addStretch(1);
  grid->addLayout(checks, row++, 0, 1, 2);
  return grid;
}

// The timed start: the date and time fields under their words, the buttons
// and the count-down, and under it the notices.
QLayout* makeTimedStart(WidgetView& view) {
  auto* box = new QVBoxLayout;
  box->setSpacing(8);
  auto* date = new QGridLayout;
  date->setHorizontalSpacing(6);
  date->setVerticalSpacing(2);
  const Ctl fields[] = {Ctl::year1, Ctl::month1, Ctl::day1, Ctl::hour1, Ctl::minute1, Ctl::second1};
  const QString words[] = {QStringLiteral("年"), QStringLiteral("月"), QStringLiteral("日"),
                           QStringLiteral("时"), QStringLiteral("分"), QStringLiteral("秒")};
  for (int i = 0; i < 6; ++i) {
    auto* e = new QLineEdit;
    e->setObjectName(QString::fromLatin1(controlInfo(fields[i]).name));
    e->setFixedWidth(i == 0 ? 64 : 44);
    e->setAlignment(Qt::AlignCenter);
    view.bind(fields[i], e);
    view.setHintColour(fields[i], false);
    date->addWidget(caption(words[i], e), 0, i, Qt::AlignHCenter);
    date->addWidget(e, 1, i);
  }
  date->setColumnStretch(6, 1);
  box->addLayout(date);

  auto* timed = new QHBoxLayout;
  timed->setSpacing(8);
  timed->addWidget(makeButton(view, Ctl::time_start));
  timed->addWidget(makeButton(view, Ctl::time_end));
  timed->addSpacing(6);
  timed->addWidget(makeLabel(view, Ctl::Label_timer), 1);
  box->addLayout(timed);
  // Under the count-down: the clock offset, and what went wrong at start-up.
  QLabel* notice = makeLabel(view, Ctl::Label_notice);
  notice->setWordWrap(true);
  QPalette np = notice->palette();
  np.setColor(QPalette::WindowText, QColor(0x50, 0x50, 0x50));
  notice->setPalette(np);
  box->addWidget(notice);
  return box;
}

QLayout* makeButtons(WidgetView& view) {
  auto* buttons = new QGridLayout;
  buttons->setHorizontalSpacing(8);
  buttons->setVerticalSpacing(8);
  const Ctl rows[3][3] = {{Ctl::normalreg, Ctl::regstart, Ctl::regstop},
                          {Ctl::load_info, Ctl::save_info, Ctl::clear_info},
                          {Ctl::Command1, Ctl::Command2, Ctl::Command3}};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 3; ++c) buttons->addWidget(makeButton(view, rows[r][c]), r, c);
  // The two starts stand out from the other buttons.
  for (Ctl start : {Ctl::normalreg, Ctl::regstart}) {
    QFont f = view.widget(start)->font();
    f.setBold(true);
    view.widget(start)->setFont(f);
  }
  return buttons;
}

// The status line, the remaining time and the count of forms sent.
QLayout* makeStatus(WidgetView& view) {
  auto* status = new QVBoxLayout;
  status->setSpacing(4);
  QLabel* statusLine = makeLabel(view, Ctl::Label1);
  QFont statusFont = statusLine->font();
  statusFont.setBold(true);
  statusLine->setFont(statusFont);
  status->addWidget(statusLine);
  auto* counters = new QHBoxLayout;
  counters->addWidget(makeLabel(view, Ctl::Label4), 1);
  counters->addWidget(makeLabel(view, Ctl::reg_send), 1);
  status->addLayout(counters);
  return status;
}

}  // namespace

QLayout* MainWindow::buildRunArea() {
  auto* area = new QVBoxLayout;
  area->setSpacing(8);
  area->addLayout(makeSendOptions(view_));
  area->addWidget(separator());
  area->addLayout(makeTimedStart(view_));
  area->addWidget(separator());
  area->addLayout(makeButtons(view_));
  area->addWidget(separator());
  area->addLayout(makeStatus(view_));
  area->addStretch(1);
  return area;
}

// The two log boxes on the first tab, the watch table of a WHOIS catch on
// the second.
QWidget* MainWindow::buildLogArea() {
  auto* tabs = new QTabWidget;
  tabs->setObjectName(QStringLiteral("run_tabs"));
  tabs->setDocumentMode(true);
  auto* logPage = new QWidget;
  auto* logs = new QHBoxLayout(logPage);
  logs->setContentsMargins(0, 6, 0, 0);
  logs->setSpacing(14);
  const struct {
    Ctl options, box;
    const char16_t* caption;
  } sides[] = {{Ctl::radio_send_info, Ctl::regsend, u"发送信息："},
               {Ctl::radio_return_info, Ctl::regresult, u"返回信息："}};
  for (const auto& side : sides) {
    auto* column = new QVBoxLayout;
    column->setSpacing(4);
    auto* head = new QHBoxLayout;
    head->addWidget(caption(QString::fromUtf16(side.caption)));
    head->addWidget(makeOptions(view_, side.options), 1);
    column->addLayout(head);

    auto* log = new QPlainTextEdit;
    log->setObjectName(QString::fromLatin1(controlInfo(side.box).name));
    log->setLineWrapMode(QPlainTextEdit::NoWrap);
    log->setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    log->setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    log->setTabChangesFocus(true);
    log->setUndoRedoEnabled(false);  // append-only; an undo history would only grow
    QPalette lp = log->palette();
    lp.setColor(QPalette::Base, kLogBackground);
    log->setPalette(lp);
    view_.bind(side.box, log);
    view_.setHintColour(side.box, false);
    log->setFixedHeight(150);
    column->addWidget(log);
    logs->addLayout(column, 1);
  }
  tabs->addTab(logPage, QStringLiteral("发送/返回信息"));

  watchView_ = new QTableView;
  watchView_->setObjectName(QStringLiteral("whois_watch"));
  watchView_->setSortingEnabled(true);
  watchView_->setSelectionBehavior(QAbstractItemView::SelectRows);
  watchView_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  watchView_->setAlternatingRowColors(true);
  watchView_->setWordWrap(false);
  watchView_->verticalHeader()->setVisible(false);
  watchView_->verticalHeader()->setDefaultSectionSize(fontMetrics().height() + 6);
  watchView_->horizontalHeader()->setStretchLastSection(true);
  watchView_->horizontalHeader()->setHighlightSections(false);
  tabs->addTab(watchView_, QStringLiteral("Whois监视"));
  return tabs;
}

void MainWindow::showWatchTable() {
  watchModel_ = new WatchTableModel(whoisMonitor(*task_), task_->events, this);
  auto* proxy = new QSortFilterProxyModel(this);
  proxy->setSourceModel(watchModel_);
  proxy->setSortRole(WatchTableModel::SortRole);
  watchView_->setModel(proxy);
  watchView_->sortByColumn(WatchTableModel::Domain, Qt::AscendingOrder);
  // Columns sized once for their titles and typical contents; sizing them to
  // the rows would walk every row at each refresh.
  const QFontMetrics fm = watchView_->fontMetrics();
  const int widths[WatchTableModel::ColumnCount] = {
      fm.horizontalAdvance(QStringLiteral("example-domain.com.cn")),
      fm.horizontalAdvance(QStringLiteral("whois.verisign-grs.com:43")),
      fm.horizontalAdvance(QStringLiteral("已被注册，放弃注册")),
      fm.horizontalAdvance(QStringLiteral("12-31 23:59:59")),
      fm.horizontalAdvance(QStringLiteral("2026-12-31")),
      fm.horizontalAdvance(QStringLiteral("查询次数")),
      fm.horizontalAdvance(QStringLiteral("响应(毫秒)")),
      fm.horizontalAdvance(QStringLiteral("23:59:59.999")),
      0};
  for (int c = 0; c < WatchTableModel::ColumnCount; ++c)
    if (widths[c] > 0) watchView_->setColumnWidth(c, widths[c] + 18);
}

void MainWindow::connectHandlers() {
  TaskWindow* t = task_.get();
  const struct {
    Ctl button;
    void (TaskWindow::*handler)();
  } clicks[] = {
      {Ctl::normalreg, &TaskWindow::normalreg_Click},
      {Ctl::regstart, &TaskWindow::regstart_Click},
      {Ctl::regstop, &TaskWindow::regstop_Click},
      {Ctl::time_start, &TaskWindow::time_start_Click},
      {Ctl::time_end, &TaskWindow::time_end_Click},
      {Ctl::clear_info, &TaskWindow::clear_info_Click},
      {Ctl::save_info, &TaskWindow::save_info_Click},
      {Ctl::load_info, &TaskWindow::load_info_Click},
      {Ctl::Command1, &TaskWindow::Command1_Click},
      {Ctl::Command2, &TaskWindow::Command2_Click},
      {Ctl::Command3, &TaskWindow::Command3_Click},
      // Only the user's click: a box set from code does not flip its flag.
      {Ctl::chkbox_utf8, &TaskWindow::chkbox_utf8_Click},
      {Ctl::chkbox_utf8_return, &TaskWindow::chkbox_utf8_return_Click},
  };
  for (const auto& c : clicks) {
    auto* button = qobject_cast<QAbstractButton*>(view_.widget(c.button));
    connect(button, &QAbstractButton::clicked, this, [t, h = c.handler] { (t->*h)(); });
  }
  for (Ctl box : {Ctl::txt_api_url, Ctl::md5_var}) view_.widget(box)->installEventFilter(this);
  connect(close_, &WindowPicture::clicked, this, &QWidget::close);
  connect(minimise_, &WindowPicture::clicked, this, &QWidget::showMinimized);
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A Yes that a run started inside the question holds back (a timed start
  // fell due) ends the program right there.
  if (!task_->Form_QueryUnload([this] { emit closed(); })) {
    event->ignore();
    return;
  }
  event->accept();
  emit closed();
}

void MainWindow::paintEvent(QPaintEvent*) {
  // Without a frame of its own the window needs a border to stand apart.
  QPainter p(this);
  p.setPen(kBorder);
  p.drawRect(rect().adjusted(0, 0, -1, -1));
}

bool MainWindow::filterHintBox(Ctl box, QEvent* event) {
  switch (event->type()) {
    case QEvent::MouseButtonRelease: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() == Qt::LeftButton &&
          view_.widget(box)->rect().contains(e->position().toPoint()))
        task_->removeHint(box);
      break;
    }
    case QEvent::MouseButtonDblClick:
      if (static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) task_->removeHint(box);
      break;
    case QEvent::FocusOut: {
      // A context menu or another program taking the focus is no leaving.
      const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
      if (reason != Qt::PopupFocusReason && reason != Qt::ActiveWindowFocusReason)
        task_->restoreHint(box);
      break;
    }
    default:
      break;
  }
  return false;  // the box handles the event as usual
}

bool MainWindow::eventFilter(QObject* watched, QEvent* event) {
  for (Ctl box : {Ctl::txt_api_url, Ctl::md5_var})
    if (watched == view_.widget(box)) return filterHintBox(box, event);

  if (watched != title_ && watched != view_.widget(Ctl::Lb_version))
    return QWidget::eventFilter(watched, event);
  switch (event->type()) {
    case QEvent::MouseButtonPress: {
      auto* e = static_cast<QMouseEvent*>(event);
      if (e->button() == Qt::LeftButton) beginMove(e->globalPosition().toPoint());
      return true;  // other buttons do nothing
    }
    case QEvent::MouseMove:
      if (dragging_) {
        auto* e = static_cast<QMouseEvent*>(event);
        if (e->buttons() & Qt::LeftButton) {
          move(e->globalPosition().toPoint() - dragOffset_);
        } else {
          dragging_ = false;
        }
        return true;
      }
      break;
    case QEvent::MouseButtonRelease:
      if (dragging_ && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
        dragging_ = false;
        return true;
      }
      break;
    default:
      break;
  }
  return QWidget::eventFilter(watched, event);
}

// The window system moves the window as if its caption were held; where it
// cannot, the window follows the mouse itself.
void MainWindow::beginMove(const QPoint& globalPos) {
  if (QWindow* w = windowHandle(); w && w->startSystemMove()) return;
  dragging_ = true;
  dragOffset_ = globalPos - pos();
}
