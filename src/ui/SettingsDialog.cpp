#include "ui/SettingsDialog.h"

#include <QButtonGroup>
#include <QFrame>
#include <QGridLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QTextDocument>
#include <QVBoxLayout>
#include <QWindow>

#include "settings/SettingsStore.h"

namespace {

// The banner at the top of the captionless dialog; pressing the left button
// on it drags the dialog as a caption bar would.
class TitlePicture : public QWidget {
 public:
  explicit TitlePicture(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("Image1"));
    setFixedHeight(52);
    setCursor(Qt::SizeAllCursor);
  }

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient bg(0, 0, width(), height());
    bg.setColorAt(0, QColor(0x1b, 0x4f, 0x82));
    bg.setColorAt(1, QColor(0x3a, 0x8d, 0xd0));
    p.fillRect(rect(), bg);

    // A globe: the outline, two meridians and the equator.
    const QRectF globe(14, 9, height() - 18, height() - 18);
    p.setPen(QPen(QColor(255, 255, 255, 230), 2));
    p.setBrush(QColor(255, 255, 255, 40));
    p.drawEllipse(globe);
    p.setBrush(Qt::NoBrush);
    p.setPen(QPen(QColor(255, 255, 255, 170), 1.4));
    p.drawEllipse(globe.adjusted(globe.width() * 0.28, 0, -globe.width() * 0.28, 0));
    p.drawLine(QPointF(globe.left(), globe.center().y()),
               QPointF(globe.right(), globe.center().y()));
    p.drawLine(QPointF(globe.center().x(), globe.top()),
               QPointF(globe.center().x(), globe.bottom()));

    QFont f = font();
    f.setPointSizeF(f.pointSizeF() * 1.35);
    f.setBold(true);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(globe.right() + 12, 0, width(), height()), Qt::AlignVCenter | Qt::AlignLeft,
               QStringLiteral("Whois 设置"));
  }

  void mousePressEvent(QMouseEvent* e) override {
    if (e->button() != Qt::LeftButton) return;
    QWidget* w = window();
    if (w->windowHandle() && w->windowHandle()->startSystemMove()) return;
    // No system move on this platform: follow the mouse ourselves.
    dragging_ = true;
    grab_ = e->globalPosition().toPoint() - w->frameGeometry().topLeft();
  }
  void mouseMoveEvent(QMouseEvent* e) override {
    if (dragging_ && (e->buttons() & Qt::LeftButton))
      window()->move(e->globalPosition().toPoint() - grab_);
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    if (e->button() == Qt::LeftButton) dragging_ = false;
  }

 private:
  bool dragging_ = false;
  QPoint grab_;
};

// The box holds paragraphs; the state holds lines ending with CR LF.
QString boxText(const QPlainTextEdit* box) {
  QString t = box->document()->toRawText();
  t.replace(QChar(QChar::ParagraphSeparator), QStringLiteral("\r\n"));
  t.replace(QChar(QChar::LineSeparator), QStringLiteral("\r\n"));
  return t;
}

}  // namespace

struct SettingsDialog::Impl {
  SettingsDialogState& state;
  Settings& settings;
  QString iniPath;
  Prompter& prompter;

  QPlainTextEdit* whois_server = nullptr;
  QLineEdit* whois_time = nullptr;
  QLineEdit* whois_timeout = nullptr;
  QLineEdit* whois_time2 = nullptr;
  QLineEdit* log_file = nullptr;
  QLineEdit* notify_url = nullptr;
  QLineEdit* notify_body = nullptr;
  QButtonGroup* check_whois = nullptr;
  QButtonGroup* save_log = nullptr;
  QButtonGroup* whois_after_reg = nullptr;
  // The boxes of the warming and timed-start settings, with their mirrors.
  QList<std::pair<QLineEdit*, QString SettingsDialogState::*>> optionBoxes{};
  bool filling = false;  // controls being set from the state: no mirroring

  void fill() {
    filling = true;
    if (boxText(whois_server) != state.whois_server) {
      QString shown = state.whois_server;
      shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
      whois_server->setPlainText(shown);
    }
    for (auto [edit, text] :
         {std::pair{whois_time, &state.whois_time}, std::pair{whois_timeout, &state.whois_timeout},
          std::pair{whois_time2, &state.whois_time2}, std::pair{log_file, &state.log_file},
          std::pair{notify_url, &state.notify_url}, std::pair{notify_body, &state.notify_body}})
      if (edit->text() != *text) edit->setText(*text);
    for (auto [edit, member] : optionBoxes)
      if (edit->text() != state.*member) edit->setText(state.*member);
    for (auto [group, option] :
         {std::pair{check_whois, state.check_whois}, std::pair{save_log, state.save_log},
          std::pair{whois_after_reg, state.whois_after_reg}})
      group->button(option == 1 ? 1 : 0)->setChecked(true);
    filling = false;
  }
};

namespace {

// A 是/否 pair in a frame of its own, so exactly one of the two is selected.
QFrame* optionPair(QWidget* parent, const QString& name, QButtonGroup*& group, int& mirror,
                   const bool& filling) {
  auto* frame = new QFrame(parent);
  frame->setObjectName(QStringLiteral("frame_") + name);
  frame->setFrameShape(QFrame::StyledPanel);
  auto* row = new QHBoxLayout(frame);
  row->setContentsMargins(8, 2, 8, 2);
  group = new QButtonGroup(frame);
  group->setExclusive(true);
  const QString captions[2] = {QStringLiteral("是"), QStringLiteral("否")};
  for (int i = 0; i < 2; ++i) {
    auto* b = new QRadioButton(captions[i], frame);
    b->setObjectName(name + u'_' + QString::number(i));
    group->addButton(b, i);
    row->addWidget(b);
  }
  QObject::connect(group, &QButtonGroup::idToggled, frame, [&mirror, &filling](int id, bool on) {
    if (on && !filling) mirror = id;
  });
  return frame;
}

QLineEdit* intervalBox(QWidget* parent, const QString& name, QString& mirror, const bool& filling,
                       int width = 70) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(name);
  edit->setFixedWidth(width);
  QObject::connect(edit, &QLineEdit::textChanged, edit, [&mirror, &filling](const QString& t) {
    if (!filling) mirror = t;
  });
  return edit;
}

QLabel* label(QWidget* parent, const QString& text) { return new QLabel(text, parent); }

// A line of text as wide as the dialog, with a hint while it is empty.
QLineEdit* wideBox(QWidget* parent, const QString& name, const QString& hint, QString& mirror,
                   const bool& filling) {
  QLineEdit* edit = intervalBox(parent, name, mirror, filling);
  edit->setMinimumWidth(0);
  edit->setMaximumWidth(QWIDGETSIZE_MAX);
  edit->setPlaceholderText(hint);
  return edit;
}

}  // namespace

SettingsDialog::SettingsDialog(SettingsDialogState& state, Settings& settings, QString iniPath,
                               Prompter& prompter, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint),
      d(new Impl{state, settings, std::move(iniPath), prompter}) {
  setObjectName(QStringLiteral("setting"));
  setWindowTitle(QStringLiteral("Whois 设置"));
  setModal(true);

  auto* outer = new QVBoxLayout(this);
  outer->setContentsMargins(0, 0, 0, 0);
  outer->setSpacing(0);
  outer->addWidget(new TitlePicture(this));

  auto* body = new QFrame(this);
  body->setFrameShape(QFrame::Box);
  auto* grid = new QGridLayout(body);
  grid->setContentsMargins(16, 12, 16, 14);
  grid->setHorizontalSpacing(10);
  grid->setVerticalSpacing(8);
  outer->addWidget(body);

  int row = 0;
  grid->addWidget(label(body, QStringLiteral("Whois服务器设置，可多行，多个域名用,分隔")), row++, 0,
                  1, 6);
  d->whois_server = new QPlainTextEdit(body);
  d->whois_server->setObjectName(QStringLiteral("whois_server"));
  d->whois_server->setLineWrapMode(QPlainTextEdit::NoWrap);
  d->whois_server->setMinimumSize(600, 150);
  grid->addWidget(d->whois_server, row++, 0, 1, 6);
  auto* format =
      label(body, QStringLiteral("格式：域名类型|||服务器地址|||端口|||已删除特征|||到期时间头特征|"
                                 "||到期时间尾特征[|||每秒查询数|||同时查询数]"));
  format->setStyleSheet(QStringLiteral("color: #505050;"));
  grid->addWidget(format, row++, 0, 1, 6);
  auto* formatMore =
      label(body, QStringLiteral("后两项可选，不填为逐个查询；第九项可选，为自定义的查询受限特征；"
                                 "服务器地址以http://或https://开头的为RDAP服务"));
  formatMore->setStyleSheet(QStringLiteral("color: #505050;"));
  grid->addWidget(formatMore, row++, 0, 1, 6);

  grid->addWidget(label(body, QStringLiteral("检测Whois后再注册")), row, 0);
  grid->addWidget(optionPair(body, QStringLiteral("check_whois"), d->check_whois, state.check_whois,
                             d->filling),
                  row++, 1, 1, 2, Qt::AlignLeft);

  d->whois_time = intervalBox(body, QStringLiteral("whois_time"), state.whois_time, d->filling);
  d->whois_timeout =
      intervalBox(body, QStringLiteral("whois_timeout"), state.whois_timeout, d->filling);
  grid->addWidget(label(body, QStringLiteral("Whois检测时间间隔")), row, 0);
  grid->addWidget(d->whois_time, row, 1);
  grid->addWidget(label(body, QStringLiteral("秒")), row, 2);
  grid->addWidget(label(body, QStringLiteral("超时")), row, 3, Qt::AlignRight);
  grid->addWidget(d->whois_timeout, row, 4);
  grid->addWidget(label(body, QStringLiteral("秒")), row++, 5);

  grid->addWidget(label(body, QStringLiteral("保存日志")), row, 0);
  grid->addWidget(
      optionPair(body, QStringLiteral("save_log"), d->save_log, state.save_log, d->filling), row++,
      1, 1, 2, Qt::AlignLeft);

  d->whois_time2 = intervalBox(body, QStringLiteral("whois_time2"), state.whois_time2, d->filling);
  grid->addWidget(label(body, QStringLiteral("注册后是否继续 whois 查询")), row, 0);
  grid->addWidget(optionPair(body, QStringLiteral("whois_after_reg"), d->whois_after_reg,
                             state.whois_after_reg, d->filling),
                  row, 1, 1, 2, Qt::AlignLeft);
  grid->addWidget(label(body, QStringLiteral("间隔")), row, 3, Qt::AlignRight);
  grid->addWidget(d->whois_time2, row, 4);
  grid->addWidget(label(body, QStringLiteral("秒")), row++, 5);

  d->log_file =
      wideBox(body, QStringLiteral("log_file"),
              QStringLiteral("默认：设置文件旁的 logs/zembrin-YYYYMMDD.log，每天一个文件"),
              state.log_file, d->filling);
  grid->addWidget(label(body, QStringLiteral("日志文件")), row, 0);
  grid->addWidget(d->log_file, row++, 1, 1, 5);
  d->notify_url =
      wideBox(body, QStringLiteral("notify_url"),
              QStringLiteral("http(s) 地址，可用 {{{domain}}} {{{event}}} {{{reply}}} {{{time}}}"),
              state.notify_url, d->filling);
  grid->addWidget(label(body, QStringLiteral("通知地址")), row, 0);
  grid->addWidget(d->notify_url, row++, 1, 1, 5);
  d->notify_body =
      wideBox(body, QStringLiteral("notify_body"),
              QStringLiteral("留空用 GET 发送；填写则用 POST 发送此内容（以 { 开头为 JSON）"),
              state.notify_body, d->filling);
  grid->addWidget(label(body, QStringLiteral("通知内容")), row, 0);
  grid->addWidget(d->notify_body, row++, 1, 1, 5);
  auto* rule = new QFrame(body);
  rule->setFrameShape(QFrame::HLine);
  rule->setFrameShadow(QFrame::Sunken);
  grid->addWidget(rule, row++, 0, 1, 6);
  auto optionBox = [&](const char* name, QString SettingsDialogState::*member, int width) {
    QLineEdit* edit =
        intervalBox(body, QString::fromLatin1(name), state.*member, d->filling, width);
    d->optionBoxes.append({edit, member});
    return edit;
  };
  grid->addWidget(label(body, QStringLiteral("预热连接数")), row, 0);
  grid->addWidget(optionBox("warm_connections", &SettingsDialogState::warm_connections, 70), row,
                  1);
  grid->addWidget(label(body, QStringLiteral("个")), row, 2);
  grid->addWidget(label(body, QStringLiteral("预热间隔")), row, 3, Qt::AlignRight);
  grid->addWidget(optionBox("warm_interval", &SettingsDialogState::warm_interval, 70), row, 4);
  grid->addWidget(label(body, QStringLiteral("秒")), row++, 5);
  grid->addWidget(label(body, QStringLiteral("预热地址")), row, 0);
  grid->addWidget(optionBox("warm_url", &SettingsDialogState::warm_url, 420), row++, 1, 1, 5,
                  Qt::AlignLeft);
  grid->addWidget(label(body, QStringLiteral("时间服务器")), row, 0);
  grid->addWidget(optionBox("time_server", &SettingsDialogState::time_server, 180), row, 1, 1, 2,
                  Qt::AlignLeft);
  grid->addWidget(label(body, QStringLiteral("定时提前")), row, 3, Qt::AlignRight);
  grid->addWidget(optionBox("timed_lead_ms", &SettingsDialogState::timed_lead_ms, 70), row, 4);
  grid->addWidget(label(body, QStringLiteral("毫秒")), row++, 5);
  auto* optionHelp = label(
      body, QStringLiteral("预热地址留空：向接口地址的“/”发送 HEAD 请求；预热连接数为0：不预热；"
                           "时间服务器（主机[:端口]）留空：使用本机时钟"));
  optionHelp->setStyleSheet(QStringLiteral("color: #505050;"));
  grid->addWidget(optionHelp, row++, 0, 1, 6);
  grid->setColumnStretch(5, 1);

  auto* save = new QPushButton(QStringLiteral("保 存"), body);
  save->setObjectName(QStringLiteral("Command1"));
  auto* exit = new QPushButton(QStringLiteral("退 出"), body);
  exit->setObjectName(QStringLiteral("Command2"));
  // Enter in an interval box must not save behind the user's back.
  for (QPushButton* b : {save, exit}) {
    b->setAutoDefault(false);
    b->setDefault(false);
    b->setMinimumWidth(96);
  }
  auto* buttons = new QHBoxLayout;
  buttons->setContentsMargins(0, 8, 0, 0);
  buttons->addStretch();
  buttons->addWidget(save);
  buttons->addSpacing(24);
  buttons->addWidget(exit);
  buttons->addStretch();
  grid->addLayout(buttons, row++, 0, 1, 6);

  connect(d->whois_server, &QPlainTextEdit::textChanged, this, [this] {
    if (!d->filling) d->state.whois_server = boxText(d->whois_server);
  });
  connect(save, &QPushButton::clicked, this, [this] {
    if (saveSettings(d->state, d->settings, d->iniPath, d->prompter)) accept();
  });
  connect(exit, &QPushButton::clicked, this, &QDialog::reject);

  d->fill();
  adjustSize();
  if (const QScreen* s = parent ? parent->screen() : QGuiApplication::primaryScreen())
    move(s->availableGeometry().center() - rect().center());
}

SettingsDialog::~SettingsDialog() { delete d; }

void SettingsDialog::showEvent(QShowEvent* event) {
  d->fill();
  QDialog::showEvent(event);
}
