#pragma once
#include <QIcon>
#include <QWidget>

// The pictures of the captionless task window, drawn at run time: the title
// picture (mark and program name), the minimise "–" and the close "×".
class WindowPicture : public QWidget {
  Q_OBJECT
 public:
  enum class Kind { Title, Minimise, Close };
  explicit WindowPicture(Kind kind, QWidget* parent = nullptr);
  QSize sizeHint() const override;

 signals:
  // The left button was pressed and released over the picture.
  void clicked();

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent*) override;
  void mouseReleaseEvent(QMouseEvent*) override;
  void enterEvent(QEnterEvent*) override;
  void leaveEvent(QEvent*) override;

 private:
  Kind kind_;
  bool pressed_ = false;
  bool hovered_ = false;
};

// The band behind the title picture, the version label and the two buttons.
class TitleBand : public QWidget {
  Q_OBJECT
 public:
  explicit TitleBand(QWidget* parent = nullptr);

 protected:
  void paintEvent(QPaintEvent*) override;
};

// The program's mark on the title band's blue: the window and tray icon.
QIcon programIcon();
