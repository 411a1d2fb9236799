#include "app/link_label.h"

#include <QMouseEvent>

TLinkLabel::TLinkLabel(QWidget* parent) : QLabel(parent) {
  setTextFormat(Qt::PlainText);
  setCursor(Qt::PointingHandCursor);
}

QColor TLinkLabel::FontColor() const { return palette().color(QPalette::WindowText); }

void TLinkLabel::SetFontColor(const QColor& color) {
  QPalette pal = palette();
  pal.setColor(QPalette::WindowText, color);
  setPalette(pal);
}

void TLinkLabel::mousePressEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) pressed_ = true;
  QLabel::mousePressEvent(event);
}

void TLinkLabel::mouseReleaseEvent(QMouseEvent* event) {
  const bool click = pressed_ && event->button() == Qt::LeftButton &&
                     rect().contains(event->position().toPoint());
  if (event->button() == Qt::LeftButton) pressed_ = false;
  QLabel::mouseReleaseEvent(event);
  if (click) emit clicked();
}

void TLinkLabel::enterEvent(QEnterEvent* event) {
  QLabel::enterEvent(event);
  emit mouseEntered();
}

void TLinkLabel::leaveEvent(QEvent* event) {
  QLabel::leaveEvent(event);
  emit mouseLeft();
}
