#pragma once
// TSpinEdit: the port field, a numeric edit with up and down buttons that behaves like the
// classic spin edit rather than like QSpinBox:
//   - it accepts any text while typing (no validator, no correction);
//   - Value() reads the text with StrToInt's rules and does not clamp; text that is not an
//     integer (empty text included) reads as MinValue();
//   - SetValue() clamps to MinValue()..MaxValue() and shows the number in decimal;
//   - losing the focus replaces an out-of-range integer by the nearest bound and leaves
//     any other text alone;
//   - the buttons, the wheel and the Up/Down keys change the value by one within bounds.
#include <QAbstractSpinBox>
#include <QString>
#include <cstdint>

class TSpinEdit : public QAbstractSpinBox {
  Q_OBJECT
 public:
  explicit TSpinEdit(QWidget* parent = nullptr);

  std::int32_t MinValue() const { return minValue_; }
  std::int32_t MaxValue() const { return maxValue_; }
  void SetMinValue(std::int32_t v) { minValue_ = v; }
  void SetMaxValue(std::int32_t v) { maxValue_ = v; }

  std::int32_t Value() const;
  void SetValue(std::int32_t value);

  // The inner line edit (for tests and for selecting text).
  using QAbstractSpinBox::lineEdit;

  QString Text() const;
  void SetText(const QString& text);

  // QAbstractSpinBox
  void stepBy(int steps) override;
  QValidator::State validate(QString& input, int& pos) const override;
  void fixup(QString& input) const override;

 protected:
  StepEnabled stepEnabled() const override;
  void focusOutEvent(QFocusEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  std::int32_t Clamp(std::int64_t value) const;

  std::int32_t minValue_ = 1;
  std::int32_t maxValue_ = 65535;
};
