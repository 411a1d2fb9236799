// The controls we build ourselves: the port spin edit, the gauge and the logo animator.
#include <gtest/gtest.h>

#include <QApplication>
#include <QImage>
#include <QImageReader>
#include <QSet>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <cstdint>
#include <limits>
#include <vector>

#include "app/gauge.h"
#include "app/gif_animator.h"
#include "app/mainform.h"
#include "app/spin_edit.h"

namespace {

// --- Spin edit ------------------------------------------------------------------------------

struct ReadCase {
  const char* text;
  std::int32_t value;  // what Value() reads
  const char* afterFocusLoss;
};

class SpinEditTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window_.setFont(WindowFont());
    spin_ = new TSpinEdit(&window_);
    spin_->setGeometry(0, 0, 58, 22);
    other_ = new QLineEdit(&window_);
    other_->setGeometry(0, 30, 58, 22);
    spin_->SetValue(80);
    window_.show();
    window_.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window_));
  }
  QWidget window_;
  TSpinEdit* spin_ = nullptr;
  QLineEdit* other_ = nullptr;
};

TEST_F(SpinEditTest, ReadingDoesNotClampAndFocusLossReplacesOutOfRangeIntegers) {
  const ReadCase cases[] = {
      {"80", 80, "80"},
      {"65536", 65536, "65535"},
      {"70000", 70000, "65535"},
      {"0", 0, "1"},
      {"-5", -5, "1"},
      {"-1", -1, "1"},
      {"1", 1, "1"},
      {"65535", 65535, "65535"},
      {"  23", 23, "  23"},  // leading blanks read normally; in range, so left as typed
      {"$17", 23, "$17"},    // hexadecimal
      {"0x10000", 65536, "65535"},
      {"", 1, ""},           // not a number: reads as MinValue and stays
      {"abc", 1, "abc"},
      {"23 ", 1, "23 "},     // a trailing blank is no integer
      {"2147483648", 1, "2147483648"},  // beyond 32 bits: no integer
      {"-2147483648", -2147483648, "1"},
  };
  for (const ReadCase& c : cases) {
    SCOPED_TRACE(c.text);
    spin_->setFocus();
    ASSERT_TRUE(spin_->hasFocus());
    spin_->lineEdit()->selectAll();
    if (*c.text) {
      QTest::keyClicks(spin_->lineEdit(), QString::fromUtf8(c.text));
    } else {
      QTest::keyClick(spin_->lineEdit(), Qt::Key_Delete);
    }
    EXPECT_EQ(spin_->Text(), QString::fromUtf8(c.text)) << "any text is accepted";
    EXPECT_EQ(spin_->Value(), c.value);
    other_->setFocus();
    EXPECT_EQ(spin_->Text(), QString::fromUtf8(c.afterFocusLoss));
  }
}

TEST_F(SpinEditTest, SettingTheValueClampsAndShowsDecimal) {
  const std::pair<std::int32_t, const char*> cases[] = {
      {80, "80"}, {0, "1"}, {-1, "1"}, {65535, "65535"}, {65536, "65535"},
      {std::numeric_limits<std::int32_t>::max(), "65535"},
      {std::numeric_limits<std::int32_t>::min(), "1"}};
  for (const auto& [value, text] : cases) {
    SCOPED_TRACE(value);
    spin_->SetValue(value);
    EXPECT_EQ(spin_->Text(), QString::fromUtf8(text));
  }
}

TEST_F(SpinEditTest, ArrowsStepByOneWithinBounds) {
  struct StepCase {
    const char* start;
    Qt::Key key;
    const char* after;
  };
  const StepCase cases[] = {
      {"80", Qt::Key_Up, "81"},       {"80", Qt::Key_Down, "79"},
      {"65535", Qt::Key_Up, "65535"}, {"1", Qt::Key_Down, "1"},
      {"70000", Qt::Key_Up, "65535"}, {"70000", Qt::Key_Down, "65535"},
      {"abc", Qt::Key_Up, "2"},       {"0", Qt::Key_Up, "1"},
      {"80", Qt::Key_PageUp, "80"},   // steps are by one only
  };
  for (const StepCase& c : cases) {
    SCOPED_TRACE(std::string(c.start) + " key " + std::to_string(c.key));
    spin_->setFocus();
    spin_->SetText(QString::fromUtf8(c.start));
    QTest::keyClick(spin_, c.key);
    EXPECT_EQ(spin_->Text(), QString::fromUtf8(c.after));
  }
  // The buttons are the same steps.
  spin_->SetText(QStringLiteral("65535"));
  spin_->stepUp();
  EXPECT_EQ(spin_->Value(), 65535);
  spin_->SetText(QStringLiteral("2"));
  spin_->stepDown();
  spin_->stepDown();
  EXPECT_EQ(spin_->Value(), 1);
}

// --- Gauge ----------------------------------------------------------------------------------

TEST(GaugeTest, PercentagesTruncateAndClamp) {
  TGauge gauge;
  EXPECT_EQ(gauge.MinValue(), 0);
  EXPECT_EQ(gauge.MaxValue(), 100);
  EXPECT_EQ(gauge.Progress(), 0);
  EXPECT_EQ(gauge.PercentText(), QStringLiteral("0%"));

  struct Case {
    std::int64_t min, max, progress;
    std::int64_t shownProgress;
    int percent;
  };
  constexpr std::int64_t kBig = std::numeric_limits<std::int64_t>::max();
  const Case cases[] = {
      {0, 3, 1, 1, 33},
      {0, 3, 2, 2, 66},
      {0, 3, 3, 3, 100},
      {0, 3, 4, 3, 100},      // clamped to the maximum
      {0, 3, -1, 0, 0},       // clamped to the minimum
      {0, 0, 5, 0, 0},        // max == min
      {10, 20, 15, 15, 50},
      {10, 20, 5, 10, 0},
      {0, 7, 1, 1, 14},
      {0, 3000000000LL, 1000000000LL, 1000000000LL, 33},  // beyond 2 GiB
      {0, kBig, kBig - 1, kBig - 1, 99},                  // no overflow in the product
      {-kBig, kBig, 0, 0, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.min) + ".." + std::to_string(c.max) + " @" +
                 std::to_string(c.progress));
    gauge.SetMinValue(std::numeric_limits<std::int64_t>::min());
    gauge.SetMaxValue(c.max);
    gauge.SetMinValue(c.min);
    gauge.SetProgress(c.progress);
    EXPECT_EQ(gauge.Progress(), c.shownProgress);
    EXPECT_EQ(gauge.PercentDone(), c.percent);
    EXPECT_EQ(gauge.PercentText(), QString::number(c.percent) + QLatin1Char('%'));
  }
}

TEST(GaugeTest, LoweringTheMaximumPullsTheProgressDown) {
  TGauge gauge;
  gauge.SetProgress(80);
  gauge.SetMaxValue(50);
  EXPECT_EQ(gauge.Progress(), 50);
  EXPECT_EQ(gauge.PercentText(), QStringLiteral("100%"));
}

TEST(GaugeTest, PaintsTheBarInBlueOnWhiteWithABorder) {
  TGauge gauge;
  gauge.resize(102, 20);  // 100 pixels inside the border
  gauge.SetMaxValue(4);
  gauge.SetProgress(1);
  const QImage image = gauge.grab().toImage();
  EXPECT_EQ(image.pixelColor(5, 3), QColor(0, 0, 255));     // in the bar (first quarter)
  EXPECT_EQ(image.pixelColor(90, 3), QColor(255, 255, 255));  // past the bar
  EXPECT_EQ(image.pixelColor(0, 10), gauge.palette().color(QPalette::WindowText));
  // The text is drawn in the middle: some pixel there is neither background colour.
  bool text = false;
  for (int x = 40; x < 62 && !text; ++x) {
    for (int y = 5; y < 15 && !text; ++y) text = image.pixelColor(x, y) != QColor(255, 255, 255);
  }
  EXPECT_TRUE(text);
}

// --- Logo -----------------------------------------------------------------------------------

class GifAnimatorTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(logo_.LoadFromFile(QStringLiteral(":/logo.gif"))); }
  TGIFAnimator logo_;
};

TEST_F(GifAnimatorTest, ReadsEveryFrameAndItsDelay) {
  ASSERT_EQ(logo_.FrameCount(), 5);
  EXPECT_EQ(logo_.ImageSize(), QSize(89, 32));
  EXPECT_EQ(logo_.size(), QSize(89, 32));
  for (int i = 0; i < logo_.FrameCount(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_EQ(logo_.FrameDelay(i), 200);
    EXPECT_EQ(logo_.Frame(i).size(), QSize(89, 32));
  }
  // Frame 1 has a transparent background (its corner); the others are opaque.
  EXPECT_EQ(logo_.Frame(0).pixelColor(0, 0).alpha(), 0);
  for (int i = 1; i < logo_.FrameCount(); ++i) EXPECT_EQ(logo_.Frame(i).pixelColor(0, 0).alpha(), 255);
  // The frames differ from one another (the highlight moves).
  for (int i = 1; i < logo_.FrameCount(); ++i) EXPECT_NE(logo_.Frame(i), logo_.Frame(i - 1));
}

TEST_F(GifAnimatorTest, StillUntilAnimateThenCyclesAndResumesWhereItStopped) {
  QSignalSpy spy(&logo_, &TGIFAnimator::frameChanged);
  EXPECT_FALSE(logo_.Animate());
  EXPECT_FALSE(QTest::qWaitFor([&] { return spy.count() > 0; }, 450)) << "must stay still";
  EXPECT_EQ(logo_.CurrentFrame(), 0);

  logo_.SetAnimate(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() >= 5; }, 5000));
  std::vector<int> seen;
  for (const auto& args : spy) seen.push_back(args.at(0).toInt());
  seen.resize(5);
  EXPECT_EQ(seen, (std::vector<int>{1, 2, 3, 4, 0}));

  ASSERT_TRUE(QTest::qWaitFor([&] { return logo_.CurrentFrame() == 2; }, 3000));
  logo_.SetAnimate(false);
  const int stoppedAt = logo_.CurrentFrame();
  const auto countAtStop = spy.count();
  QTest::qWait(450);
  EXPECT_EQ(spy.count(), countAtStop);
  EXPECT_EQ(logo_.CurrentFrame(), stoppedAt);

  logo_.SetAnimate(true);
  ASSERT_TRUE(QTest::qWaitFor([&] { return spy.count() > countAtStop; }, 3000));
  EXPECT_EQ(spy.at(countAtStop).at(0).toInt(), (stoppedAt + 1) % 5);
  logo_.SetAnimate(false);
}

TEST_F(GifAnimatorTest, DrawsAtTheTopLeftWithTransparencyShowingTheWindow) {
  QWidget window;
  window.setAutoFillBackground(true);
  QPalette pal = window.palette();
  pal.setColor(QPalette::Window, QColor(10, 20, 30));
  window.setPalette(pal);
  window.resize(120, 60);
  auto* logo = new TGIFAnimator(&window);
  ASSERT_TRUE(logo->LoadFromFile(QStringLiteral(":/logo.gif")));
  logo->setGeometry(0, 0, 120, 60);
  const QImage image = window.grab().toImage();
  EXPECT_EQ(image.pixelColor(0, 0), QColor(10, 20, 30));  // transparent corner of frame 1
  EXPECT_EQ(image.pixelColor(100, 50), QColor(10, 20, 30));  // not stretched
  const QColor board = logo->Frame(0).pixelColor(40, 4);
  EXPECT_EQ(board.alpha(), 255);
  EXPECT_EQ(image.pixelColor(40, 4), board);  // not centred: drawn at 0,0
}

// --- Icon -----------------------------------------------------------------------------------

TEST(ApplicationIconTest, SixImagesOf48_32And16PixelsIn256And16Colours) {
  QImageReader reader(QStringLiteral(":/brelvin.ico"));
  ASSERT_EQ(reader.imageCount(), 6);
  struct Expected {
    int size;
    int maxColours;
  };
  const Expected expected[] = {{48, 256}, {48, 16}, {32, 256}, {32, 16}, {16, 256}, {16, 16}};
  for (const Expected& e : expected) {
    SCOPED_TRACE(e.size);
    const QImage image = reader.read();
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(e.size, e.size));
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); ++y) {
      for (int x = 0; x < image.width(); ++x) colours.insert(image.pixel(x, y));
    }
    EXPECT_LE(colours.size(), e.maxColours);
    EXPECT_EQ(qAlpha(image.pixel(0, 0)), 0);  // transparent corner
    EXPECT_EQ(qAlpha(image.pixel(e.size / 2, e.size / 2)), 255);
    reader.jumpToNextImage();
  }
}

}  // namespace
