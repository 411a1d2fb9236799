#include "app/status_bar.h"

#include <QPainter>
#include <QResizeEvent>
#include <QSizeGrip>
#include <qdrawutil.h>

TStatusBar::TStatusBar(QWidget* parent) : QWidget(parent), grip_(new QSizeGrip(this)) {
  grip_->resize(grip_->sizeHint());
}

void TStatusBar::AddPanel(int width, const QString& text) {
  panels_.push_back(Panel{width, text});
  update();
}

void TStatusBar::SetPanelText(int index, const QString& text) {
  auto& panel = panels_.at(static_cast<std::size_t>(index));
  if (panel.text == text) return;
  panel.text = text;
  update(PanelRect(index));
}

QRect TStatusBar::PanelRect(int index) const {
  int left = 0;
  for (int i = 0; i < index; ++i) left += PanelWidth(i);
  const bool last = index == PanelCount() - 1;
  const int right = last ? width() : left + PanelWidth(index);
  return QRect(left, 0, std::max(0, right - left), height());
}

void TStatusBar::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), palette().color(QPalette::Window));
  for (int i = 0; i < PanelCount(); ++i) {
    // Each panel is a sunken box with a two-pixel gap to the next one.
    QRect box = PanelRect(i).adjusted(0, 2, -2, 0);
    qDrawShadePanel(&p, box, palette(), true, 1);
    p.setPen(palette().color(QPalette::WindowText));
    p.drawText(box.adjusted(3, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
               PanelText(i));
  }
}

void TStatusBar::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  const QSize size = grip_->sizeHint().boundedTo(QSize(height(), height()));
  grip_->setGeometry(width() - size.width(), height() - size.height(), size.width(),
                     size.height());
  grip_->raise();
}
