#pragma once
// TStatusBar: a bar of text panels along the bottom of the window, with a size grip.
// Each panel's right edge lies at the sum of the widths of the panels up to it, except the
// last panel, which always reaches the right edge of the bar whatever its own width.
#include <QString>
#include <QWidget>
#include <vector>

class QSizeGrip;

class TStatusBar : public QWidget {
  Q_OBJECT
 public:
  explicit TStatusBar(QWidget* parent = nullptr);

  // Adds a panel at the end.
  void AddPanel(int width, const QString& text = QString());
  int PanelCount() const { return static_cast<int>(panels_.size()); }
  int PanelWidth(int index) const { return panels_.at(static_cast<std::size_t>(index)).width; }
  QString PanelText(int index) const { return panels_.at(static_cast<std::size_t>(index)).text; }
  void SetPanelText(int index, const QString& text);
  // The panel's rectangle in the bar's coordinates.
  QRect PanelRect(int index) const;

  QSizeGrip* SizeGrip() const { return grip_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  struct Panel {
    int width;
    QString text;
  };
  std::vector<Panel> panels_;
  QSizeGrip* grip_;
};
