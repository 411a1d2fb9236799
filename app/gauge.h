#pragma once
// TGauge: a horizontal progress bar filled from the left in the bar colour on a white
// background, inside a single border, with the percentage ("%d%%") centred on it.
//
// The percentage is 100 * (Progress - MinValue) / (MaxValue - MinValue) truncated toward
// zero, and 0 when MaxValue equals MinValue. Values are 64-bit and the percentage is
// computed without overflow whatever their size. SetProgress clamps to MinValue..MaxValue.
#include <QColor>
#include <QString>
#include <QWidget>
#include <cstdint>

class TGauge : public QWidget {
  Q_OBJECT
 public:
  explicit TGauge(QWidget* parent = nullptr);

  std::int64_t MinValue() const { return minValue_; }
  std::int64_t MaxValue() const { return maxValue_; }
  std::int64_t Progress() const { return progress_; }
  // A new minimum above the maximum raises the maximum to it (and the other way round);
  // the progress is kept within the new bounds.
  void SetMinValue(std::int64_t value);
  void SetMaxValue(std::int64_t value);
  void SetProgress(std::int64_t value);

  QColor ForeColor() const { return foreColor_; }
  QColor BackColor() const { return backColor_; }

  int PercentDone() const;
  QString PercentText() const;  // "33%"

  // (value - min) * scale / (max - min) truncated, 0 when max == min; exact for every
  // int64 value with min <= value <= max.
  static std::int64_t Proportion(std::int64_t value, std::int64_t min, std::int64_t max,
                                 std::int64_t scale);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  std::int64_t minValue_ = 0;
  std::int64_t maxValue_ = 100;
  std::int64_t progress_ = 0;
  QColor foreColor_{0, 0, 255};
  QColor backColor_{255, 255, 255};
};
