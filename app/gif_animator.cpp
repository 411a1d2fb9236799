#include "app/gif_animator.h"

#include <QImageReader>
#include <QPainter>

TGIFAnimator::TGIFAnimator(QWidget* parent) : QWidget(parent) {
  timer_.setSingleShot(true);
  connect(&timer_, &QTimer::timeout, this, &TGIFAnimator::Advance);
}

bool TGIFAnimator::LoadFromFile(const QString& fileName) {
  timer_.stop();
  frames_.clear();
  delays_.clear();
  current_ = 0;
  QImageReader reader(fileName);
  // Each image the reader hands out is the whole picture as it shows at that frame.
  while (reader.canRead()) {
    QImage frame = reader.read();
    if (frame.isNull()) break;
    const int delay = reader.nextImageDelay();
    frames_.push_back(std::move(frame));
    delays_.push_back(delay > 0 ? delay : kDefaultDelayMs);
  }
  if (!frames_.empty()) resize(ImageSize());
  update();
  if (animate_) StartTimerForCurrentFrame();
  return !frames_.empty();
}

QSize TGIFAnimator::ImageSize() const {
  return frames_.empty() ? QSize() : frames_.front().size();
}

void TGIFAnimator::SetAnimate(bool on) {
  if (on == animate_) return;
  animate_ = on;
  if (on) {
    StartTimerForCurrentFrame();
  } else {
    timer_.stop();
  }
}

void TGIFAnimator::StartTimerForCurrentFrame() {
  if (frames_.size() < 2) return;
  timer_.start(FrameDelay(current_));
}

void TGIFAnimator::Advance() {
  if (!animate_ || frames_.empty()) return;
  current_ = (current_ + 1) % FrameCount();
  update();
  StartTimerForCurrentFrame();
  emit frameChanged(current_);
}

void TGIFAnimator::paintEvent(QPaintEvent*) {
  if (frames_.empty()) return;
  QPainter p(this);
  p.drawImage(QPoint(0, 0), Frame(current_));
}
