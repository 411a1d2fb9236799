#include "app/spin_edit.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <algorithm>

#include "platform/text/strtoint.h"

TSpinEdit::TSpinEdit(QWidget* parent) : QAbstractSpinBox(parent) {
  setAccelerated(false);
  setCorrectionMode(QAbstractSpinBox::CorrectToPreviousValue);
  setKeyboardTracking(true);
  SetValue(0);  // shows MinValue until the owner sets its value
}

std::int32_t TSpinEdit::Clamp(std::int64_t value) const {
  return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, minValue_, maxValue_));
}

std::int32_t TSpinEdit::Value() const {
  std::int32_t value = 0;
  if (TryStrToInt(Text().toStdString(), value)) return value;
  return minValue_;
}

void TSpinEdit::SetValue(std::int32_t value) { SetText(QString::number(Clamp(value))); }

QString TSpinEdit::Text() const { return lineEdit()->text(); }

void TSpinEdit::SetText(const QString& text) {
  lineEdit()->setText(text);
  update();
}

void TSpinEdit::stepBy(int steps) {
  SetValue(Clamp(static_cast<std::int64_t>(Value()) + steps));
  selectAll();
}

QValidator::State TSpinEdit::validate(QString&, int&) const { return QValidator::Acceptable; }

void TSpinEdit::fixup(QString&) const {}

QAbstractSpinBox::StepEnabled TSpinEdit::stepEnabled() const {
  // Both buttons always work; a step beyond a bound just leaves the bound.
  return StepUpEnabled | StepDownEnabled;
}

void TSpinEdit::focusOutEvent(QFocusEvent* event) {
  QAbstractSpinBox::focusOutEvent(event);
  std::int32_t value = 0;
  if (TryStrToInt(Text().toStdString(), value) && (value < minValue_ || value > maxValue_)) {
    SetValue(value);
  }
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
  // Page Up/Down would step by ten in Qt's spin boxes; this control steps by one only.
  if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
    event->ignore();
    return;
  }
  QAbstractSpinBox::keyPressEvent(event);
}
