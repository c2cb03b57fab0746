#include "components/hex_dump.h"

#include <QApplication>
#include <QImage>
#include <QPaintEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>
#include <string>

namespace orlendo {
namespace {

// A dump whose client area is exactly columns character cells wide and rows lines high.
class HexDumpTest : public testing::Test {
protected:
  void SetUp() override {
    dump.SetBorder(THexDump::bsNone);
    dump.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dump));
  }
  void SizeClient(int columns, int rows) {
    const QSize extra = dump.size() - dump.viewport()->size();
    dump.resize(columns * dump.CharWidth() + extra.width(),
                rows * dump.LineHeight() + extra.height());
    QApplication::processEvents();
    ASSERT_EQ(dump.viewport()->width(), columns * dump.CharWidth());
  }
  void Show(const std::string& bytes) {
    data = bytes;
    dump.SetDataPointer(data.data());
    dump.SetDataLength(static_cast<int32_t>(data.size()));
  }
  void Key(Qt::Key key) { QTest::keyClick(&dump, key); }

  std::unique_ptr<THexDump> owner{THexDump::CreateHexDump(nullptr)};
  THexDump& dump = *owner;
  std::string data;
};

TEST_F(HexDumpTest, BytesPerLineFollowTheWidthAndTheColumnsShown) {
  struct Case {
    int columns;
    bool address, characters;
    int32_t length;
    int32_t bytesPerLine, lineCount;
  } cases[] = {
      {10 + 64, true, true, 17, 16, 2},   // a partial last line of one byte
      {10 + 64, true, true, 32, 16, 2},   // an exact multiple has no partial line
      {10 + 40, true, true, 100, 10, 10}, // four cells a byte with the characters
      {10 + 40, true, false, 100, 13, 8}, // three without them
      {30, false, false, 10, 10, 1},      // no address column
      {5, true, true, 3, 1, 3},           // narrower than one byte: still one a line
      {400, true, true, 40, 16, 3},       // never more than 16
      {10 + 64, true, true, 0, 16, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.columns << " columns, length " << c.length);
    dump.SetShowAddress(c.address);
    dump.SetShowCharacters(c.characters);
    SizeClient(c.columns, 10);
    Show(std::string(static_cast<size_t>(c.length), 'x'));
    EXPECT_EQ(dump.BytesPerLine(), c.bytesPerLine);
    EXPECT_EQ(dump.LineCount(), c.lineCount);
    EXPECT_EQ(dump.verticalScrollBar()->maximum(), std::max(c.lineCount - 1, 0));
  }
}

TEST_F(HexDumpTest, KeysMoveTheCurrentLineWithinTheDataAndIntoView) {
  SizeClient(74, 10); // 16 bytes a line, ten full lines and one cut off
  Show(std::string(100 * 16, 'a'));
  const int32_t visible = dump.VisibleLines();
  ASSERT_EQ(visible, 11);
  struct Step {
    Qt::Key key;
    int32_t current, top;
  } steps[] = {
      {Qt::Key_Up, 0, 0},
      {Qt::Key_PageDown, visible, 2}, // the current line becomes the last fully visible one
      {Qt::Key_Down, visible + 1, 3},
      {Qt::Key_End, 99, 99 + 2 - visible},
      {Qt::Key_PageDown, 99, 99 + 2 - visible},
      {Qt::Key_Down, 99, 99 + 2 - visible},
      {Qt::Key_PageUp, 99 - visible, 99 - visible},
      {Qt::Key_Home, 0, 0},
      {Qt::Key_PageUp, 0, 0},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "key " << QTest::keyToAscii(s.key) << " " << s.key);
    Key(s.key);
    EXPECT_EQ(dump.CurrentLine(), s.current);
    EXPECT_EQ(dump.TopLine(), s.top);
    EXPECT_EQ(dump.verticalScrollBar()->value(), s.top);
  }
  // A new block starts again at its first line, which is current.
  Key(Qt::Key_End);
  Show(std::string(50 * 16, 'b'));
  EXPECT_EQ(dump.CurrentLine(), 0);
  EXPECT_EQ(dump.TopLine(), 0);
}

TEST_F(HexDumpTest, TheScrollBarMovesTheViewButNotTheCurrentLine) {
  SizeClient(74, 10);
  Show(std::string(100 * 16, 'a'));
  QScrollBar* bar = dump.verticalScrollBar();
  bar->setValue(50);
  EXPECT_EQ(dump.TopLine(), 50);
  bar->triggerAction(QAbstractSlider::SliderPageStepAdd);
  EXPECT_EQ(dump.TopLine(), 50 + dump.VisibleLines() - 1);
  bar->triggerAction(QAbstractSlider::SliderSingleStepSub);
  EXPECT_EQ(dump.TopLine(), 49 + dump.VisibleLines() - 1);
  bar->triggerAction(QAbstractSlider::SliderToMaximum);
  EXPECT_EQ(dump.TopLine(), 99);
  EXPECT_EQ(dump.CurrentLine(), 0);
  // A click makes the clicked row current.
  QTest::mouseClick(dump.viewport(), Qt::LeftButton, {}, QPoint(20, 2 * dump.LineHeight() + 1));
  EXPECT_EQ(dump.CurrentLine(), 99); // rows below the last line clamp to it
  bar->setValue(10);
  QTest::mouseClick(dump.viewport(), Qt::LeftButton, {}, QPoint(20, 2 * dump.LineHeight() + 1));
  EXPECT_EQ(dump.CurrentLine(), 12);
}

TEST_F(HexDumpTest, NavigationIsIgnoredWithoutData) {
  SizeClient(74, 10);
  Show(std::string(100 * 16, 'a'));
  Key(Qt::Key_End);
  dump.SetDataPointer(nullptr);
  EXPECT_EQ(dump.DataLength(), 0);
  EXPECT_EQ(dump.LineCount(), 0);
  Key(Qt::Key_Home);
  Key(Qt::Key_PageDown);
  EXPECT_EQ(dump.CurrentLine(), 0);
  EXPECT_EQ(dump.TopLine(), 0);
}

// Records what each paint of the client area covers.
class PaintRecorder : public QObject {
public:
  QRegion painted;
  bool eventFilter(QObject*, QEvent* event) override {
    if (event->type() == QEvent::Paint)
      painted += static_cast<QPaintEvent*>(event)->region();
    return false;
  }
};

// The pixels on screen after a move must be what a full repaint draws: a one-line scroll that
// shifted the wrong way, or left the uncovered row unpainted, shows up here.
TEST_F(HexDumpTest, OneLineMovesScrollThePixelsAndRepaintOnlyTheUncoveredRow) {
  SizeClient(74, 8);
  std::string bytes;
  for (int i = 0; i < 40 * 16; ++i)
    bytes += static_cast<char>(i * 7);
  Show(bytes);
  dump.setFocus();
  QApplication::processEvents();
  Key(Qt::Key_End);
  Key(Qt::Key_PageUp);
  QApplication::processEvents();
  PaintRecorder recorder;
  dump.viewport()->installEventFilter(&recorder);
  const int32_t lineHeight = dump.LineHeight();
  for (Qt::Key key : {Qt::Key_Up, Qt::Key_Down}) {
    // Walk the current line to the edge of the view, until a key moves the view by one.
    const int32_t top = dump.TopLine();
    while (dump.TopLine() == top) {
      recorder.painted = QRegion();
      Key(key);
      QApplication::processEvents();
    }
    SCOPED_TRACE(key == Qt::Key_Up ? "up" : "down");
    ASSERT_EQ(std::abs(dump.TopLine() - top), 1);
    // The uncovered row, and the rows of the old and the new current line.
    EXPECT_LE(recorder.painted.boundingRect().height(), 3 * lineHeight);
    const QImage onScreen =
        dump.screen()->grabWindow(dump.winId()).toImage().convertToFormat(QImage::Format_RGB32);
    const QImage repainted = dump.grab().toImage().convertToFormat(QImage::Format_RGB32);
    const QRect client = dump.viewport()->geometry();
    EXPECT_TRUE(onScreen.copy(client) == repainted.copy(client));
  }
}

TEST(HexDumpCharacters, ControlAndUndefinedBytesShowAsADot) {
  const std::pair<uint8_t, char16_t> cases[] = {
      {0x00, u'.'}, {0x1F, u'.'},      {0x20, u' '},      {0x41, u'A'},      {0x7F, u'.'},
      {0x81, u'.'}, {0x93, u'\u201C'}, {0x80, u'\u20AC'}, {0xE8, u'\u00E8'}, {0xFF, u'\u00FF'}};
  for (const auto& [byte, expected] : cases)
    EXPECT_EQ(THexDump::CharacterOf(byte), QChar(expected)) << int(byte);
}

// The last line of 17 bytes at 16 a line holds one byte: two digits, nothing after them.
TEST_F(HexDumpTest, APartialLastLineDrawsOnlyItsBytes) {
  SizeClient(74, 4);
  dump.SetShowLineMarker(false);
  Show(std::string(17, '\xFF'));
  const QImage image = dump.grab(dump.viewport()->geometry()).toImage();
  const QColor background = dump.Color();
  auto inked = [&](int x0, int x1, int row) {
    for (int y = row * dump.LineHeight(); y < (row + 1) * dump.LineHeight(); ++y) {
      for (int x = x0; x < x1; ++x) {
        if (image.pixelColor(x, y) != background)
          return true;
      }
    }
    return false;
  };
  const int cw = dump.CharWidth();
  const int hexStart = 1 + 10 * cw;
  const int charStart = 3 * 16 * cw + 10 * cw;
  EXPECT_TRUE(inked(hexStart, hexStart + 2 * cw, 1));           // byte 0 of line 1
  EXPECT_FALSE(inked(hexStart + 3 * cw, charStart - 1, 1));     // no bytes 1 .. 15
  EXPECT_TRUE(inked(hexStart + 15 * 3 * cw, charStart - 1, 0)); // byte 15 of line 0
  EXPECT_TRUE(inked(charStart, charStart + cw, 1));             // its one character
  EXPECT_FALSE(inked(charStart + cw, charStart + 16 * cw, 1));
  EXPECT_FALSE(inked(0, image.width(), 2)); // below the data: background only
}

} // namespace
} // namespace orlendo
