#pragma once
// TLinkLabel: a label used as a web link. It reports clicks (a press and release of the
// left button over it) and the mouse pointer entering and leaving it; the window's
// handlers decide what to do with them.
#include <QLabel>

class TLinkLabel : public QLabel {
  Q_OBJECT
 public:
  explicit TLinkLabel(QWidget* parent = nullptr);

  QColor FontColor() const;
  void SetFontColor(const QColor& color);

 signals:
  void clicked();
  void mouseEntered();
  void mouseLeft();

 protected:
  void mousePressEvent(QMouseEvent* event) override;
  void mouseReleaseEvent(QMouseEvent* event) override;
  void enterEvent(QEnterEvent* event) override;
  void leaveEvent(QEvent* event) override;

 private:
  bool pressed_ = false;
};
