#pragma once
// TGIFAnimator: shows an animated GIF. Every frame and its delay are read when the image
// is loaded; the first frame shows, still, until Animate is switched on. While it is on,
// the control moves to the next frame each time the shown frame's delay has passed, from
// the last frame back to the first, and repeats without end whatever loop count the image
// declares. Switching it off stops on the frame shown; switching it on again continues
// from that frame. The image is drawn at the top-left corner, neither centred nor
// stretched, with its transparent pixels showing the window behind.
#include <QImage>
#include <QString>
#include <QTimer>
#include <QWidget>
#include <vector>

class TGIFAnimator : public QWidget {
  Q_OBJECT
 public:
  explicit TGIFAnimator(QWidget* parent = nullptr);

  // Reads every frame of the image; false when it cannot be read (nothing shown then).
  bool LoadFromFile(const QString& fileName);

  int FrameCount() const { return static_cast<int>(frames_.size()); }
  int FrameDelay(int index) const { return delays_.at(static_cast<std::size_t>(index)); }
  const QImage& Frame(int index) const { return frames_.at(static_cast<std::size_t>(index)); }
  int CurrentFrame() const { return current_; }
  QSize ImageSize() const;

  bool Animate() const { return animate_; }
  void SetAnimate(bool on);

  // A frame whose delay is 0 or missing shows this long.
  static constexpr int kDefaultDelayMs = 100;

 signals:
  void frameChanged(int index);

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  void Advance();
  void StartTimerForCurrentFrame();

  std::vector<QImage> frames_;
  std::vector<int> delays_;
  int current_ = 0;
  bool animate_ = false;
  QTimer timer_;
};
