#include "app/gauge.h"

#include <QPainter>
#include <QRegion>
#include <algorithm>

__extension__ typedef unsigned __int128 GaugeWide;

TGauge::TGauge(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void TGauge::SetMinValue(std::int64_t value) {
  minValue_ = value;
  maxValue_ = std::max(maxValue_, minValue_);
  progress_ = std::clamp(progress_, minValue_, maxValue_);
  update();
}

void TGauge::SetMaxValue(std::int64_t value) {
  maxValue_ = value;
  minValue_ = std::min(minValue_, maxValue_);
  progress_ = std::clamp(progress_, minValue_, maxValue_);
  update();
}

void TGauge::SetProgress(std::int64_t value) {
  const std::int64_t clamped = std::clamp(value, minValue_, maxValue_);
  if (clamped == progress_) return;
  progress_ = clamped;
  update();
}

std::int64_t TGauge::Proportion(std::int64_t value, std::int64_t min, std::int64_t max,
                                std::int64_t scale) {
  if (max <= min || scale <= 0) return 0;
  value = std::clamp(value, min, max);
  // Differences of two int64 values fit an unsigned 64-bit number; their product with the
  // scale fits 128 bits.
  const auto done = static_cast<std::uint64_t>(value) - static_cast<std::uint64_t>(min);
  const auto range = static_cast<std::uint64_t>(max) - static_cast<std::uint64_t>(min);
  const GaugeWide product = static_cast<GaugeWide>(done) * static_cast<std::uint64_t>(scale);
  return static_cast<std::int64_t>(product / range);
}

int TGauge::PercentDone() const {
  return static_cast<int>(Proportion(progress_, minValue_, maxValue_, 100));
}

QString TGauge::PercentText() const { return QString::asprintf("%d%%", PercentDone()); }

void TGauge::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const QRect outer = rect();
  // Single border.
  p.setPen(palette().color(QPalette::WindowText));
  p.setBrush(Qt::NoBrush);
  p.drawRect(outer.adjusted(0, 0, -1, -1));

  const QRect inner = outer.adjusted(1, 1, -1, -1);
  const int filled =
      static_cast<int>(Proportion(progress_, minValue_, maxValue_, std::max(0, inner.width())));
  const QRect bar(inner.left(), inner.top(), filled, inner.height());
  const QRect rest(inner.left() + filled, inner.top(), inner.width() - filled, inner.height());
  p.fillRect(rest, backColor_);
  p.fillRect(bar, foreColor_);

  // The text in the bar colour over the background and in the background colour over the
  // bar, so it stays readable wherever the bar ends.
  const QString text = PercentText();
  p.setFont(font());
  p.setClipRegion(QRegion(rest));
  p.setPen(foreColor_);
  p.drawText(inner, Qt::AlignCenter, text);
  p.setClipRegion(QRegion(bar));
  p.setPen(backColor_);
  p.drawText(inner, Qt::AlignCenter, text);
}
