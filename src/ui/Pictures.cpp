#include "ui/Pictures.h"

#include <QLinearGradient>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>

namespace {
const QColor kBandTop(0x1d, 0x4f, 0x86);
const QColor kBandBottom(0x16, 0x3d, 0x68);
const QColor kMarkAccent(0xf5, 0xa6, 0x23);

// A target with a cross-hair: the moment a name drops, it is caught.
void paintMark(QPainter& p, const QRectF& box) {
  const QPointF c = box.center();
  const qreal r = box.width() / 2 - 1.5;
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(Qt::white, 2.2));
  p.drawEllipse(c, r, r);
  p.setPen(QPen(kMarkAccent, 2.2));
  p.drawEllipse(c, r * 0.55, r * 0.55);
  p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
  p.drawLine(QPointF(c.x(), c.y() - r - 1), QPointF(c.x(), c.y() - r * 0.3));
  p.drawLine(QPointF(c.x(), c.y() + r * 0.3), QPointF(c.x(), c.y() + r + 1));
  p.drawLine(QPointF(c.x() - r - 1, c.y()), QPointF(c.x() - r * 0.3, c.y()));
  p.drawLine(QPointF(c.x() + r * 0.3, c.y()), QPointF(c.x() + r + 1, c.y()));
  p.setPen(Qt::NoPen);
  p.setBrush(kMarkAccent);
  p.drawEllipse(c, r * 0.16, r * 0.16);
}
}  // namespace

WindowPicture::WindowPicture(Kind kind, QWidget* parent) : QWidget(parent), kind_(kind) {
  setAttribute(Qt::WA_Hover);
  if (kind_ == Kind::Title) {
    setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    setCursor(Qt::SizeAllCursor);
  } else {
    setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
    setCursor(Qt::PointingHandCursor);
    setToolTip(kind_ == Kind::Close ? QStringLiteral("关闭") : QStringLiteral("最小化"));
  }
}

QSize WindowPicture::sizeHint() const {
  return kind_ == Kind::Title ? QSize(220, 40) : QSize(44, 40);
}

void WindowPicture::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  const QRectF r = rect();
  if (kind_ == Kind::Title) {
    const qreal side = r.height() - 12;
    paintMark(p, QRectF(12, 6, side, side));
    QFont f = font();
    f.setFamily(QStringLiteral("DejaVu Sans"));
    f.setBold(true);
    f.setPixelSize(19);
    f.setLetterSpacing(QFont::AbsoluteSpacing, 0.6);
    p.setFont(f);
    p.setPen(Qt::white);
    p.drawText(QRectF(side + 22, 0, r.width() - side - 22, r.height()),
               Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("Zembrin"));
    return;
  }
  if (hovered_)
    p.fillRect(r, kind_ == Kind::Close ? QColor(0xd9, 0x3b, 0x3b) : QColor(255, 255, 255, 48));
  p.setPen(QPen(Qt::white, 1.6, Qt::SolidLine, Qt::RoundCap));
  const QPointF c = r.center();
  const qreal h = 6;
  if (kind_ == Kind::Close) {
    p.drawLine(QPointF(c.x() - h, c.y() - h), QPointF(c.x() + h, c.y() + h));
    p.drawLine(QPointF(c.x() - h, c.y() + h), QPointF(c.x() + h, c.y() - h));
  } else {
    p.drawLine(QPointF(c.x() - h, c.y() + 0.5), QPointF(c.x() + h, c.y() + 0.5));
  }
}

void WindowPicture::mousePressEvent(QMouseEvent* e) {
  pressed_ = e->button() == Qt::LeftButton;
  QWidget::mousePressEvent(e);  // unhandled: the window's filter moves it
}

void WindowPicture::mouseReleaseEvent(QMouseEvent* e) {
  const bool click =
      pressed_ && e->button() == Qt::LeftButton && rect().contains(e->position().toPoint());
  pressed_ = false;
  if (click) emit clicked();
}

void WindowPicture::enterEvent(QEnterEvent*) {
  hovered_ = true;
  update();
}

void WindowPicture::leaveEvent(QEvent*) {
  hovered_ = false;
  update();
}

TitleBand::TitleBand(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_StyledBackground, false);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
}

void TitleBand::paintEvent(QPaintEvent*) {
  QPainter p(this);
  QLinearGradient g(0, 0, 0, height());
  g.setColorAt(0, kBandTop);
  g.setColorAt(1, kBandBottom);
  p.fillRect(rect(), g);
}

QIcon programIcon() {
  QPixmap pixmap(64, 64);
  pixmap.fill(Qt::transparent);
  QPainter p(&pixmap);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 64);
  g.setColorAt(0, kBandTop);
  g.setColorAt(1, kBandBottom);
  p.setPen(Qt::NoPen);
  p.setBrush(g);
  p.drawRoundedRect(QRectF(0, 0, 64, 64), 12, 12);
  paintMark(p, QRectF(10, 10, 44, 44));
  return QIcon(pixmap);
}
