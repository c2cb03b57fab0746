// A classic hex dump of a block of bytes: per line the offset, the bytes as pairs of hexadecimal
// digits and the same bytes as characters, with a highlighted current line that the keyboard and
// the mouse move and a focus rectangle on it while the control has the focus.
//
// The control draws straight from the caller's buffer and never copies or changes it: the caller
// keeps the bytes alive and unchanged while they are shown, and sets a new pointer (or none)
// before freeing them. Set the pointer first and the length second.
#pragma once

#include <QAbstractScrollArea>
#include <QColor>
#include <array>
#include <cstdint>

namespace orlendo {

class THexDump : public QAbstractScrollArea {
  Q_OBJECT

public:
  enum TBorderStyle { bsNone, bsSingle };
  // The indexes of the colour array behind AddressColor, HexDataColor and AnsiCharColor.
  enum TColorIndex { ciAddress = 0, ciHexData = 1, ciAnsiChar = 2 };

  explicit THexDump(QWidget* parent = nullptr);

  // The form the viewer uses: a dump on parent, filling it (a layout is given to parent when it
  // has none), in the system's fixed-pitch font.
  static THexDump* CreateHexDump(QWidget* parent);

  TBorderStyle Border() const { return border_; }
  void SetBorder(TBorderStyle value);
  bool Ctl3D() const { return ctl3D_; }
  void SetCtl3D(bool value);
  bool ShowAddress() const { return showAddress_; }
  void SetShowAddress(bool value);
  bool ShowCharacters() const { return showCharacters_; }
  void SetShowCharacters(bool value);
  bool ShowLineMarker() const { return showLineMarker_; }
  void SetShowLineMarker(bool value);
  // Offsets from the first byte shown rather than memory addresses.
  bool RelativeAddress() const { return relativeAddress_; }
  void SetRelativeAddress(bool value);

  QColor GetColors(int index) const;
  void SetColors(int index, const QColor& value);
  QColor AddressColor() const { return GetColors(ciAddress); }
  void SetAddressColor(const QColor& c) { SetColors(ciAddress, c); }
  QColor HexDataColor() const { return GetColors(ciHexData); }
  void SetHexDataColor(const QColor& c) { SetColors(ciHexData, c); }
  QColor AnsiCharColor() const { return GetColors(ciAnsiChar); }
  void SetAnsiCharColor(const QColor& c) { SetColors(ciAnsiChar, c); }
  // The background.
  QColor Color() const { return color_; }
  void SetColor(const QColor& value);

  const uint8_t* DataPointer() const { return data_; }
  // Null empties the view (DataLength becomes 0); a pointer shows the data from its first line,
  // which becomes the current line.
  void SetDataPointer(const void* data);
  int32_t DataLength() const { return dataLength_; }
  // Negative lengths count as 0.
  void SetDataLength(int32_t length);

  bool HasData() const { return hasData_; }
  int32_t TopLine() const { return topLine_; }
  int32_t CurrentLine() const { return currentLine_; }
  int32_t VisibleLines() const { return visibleLines_; }
  int32_t LineCount() const { return lineCount_; }
  int32_t BytesPerLine() const { return bytesPerLine_; }
  int32_t LineHeight() const { return lineHeight_; }
  int32_t CharWidth() const { return charWidth_; }

  // Both clamp to 0 .. LineCount - 1. A one-line move of the view scrolls the pixels and repaints
  // the uncovered row only.
  void SetTopLine(int32_t line);
  void SetCurrentLine(int32_t line);

  // The character column's form of a byte: its character in the 8-bit set of the dump's font
  // (Windows-1252, the ANSI set of the Western fonts a dump shows); control characters and the
  // bytes that set leaves undefined as ".", rather than as a missing glyph.
  static QChar CharacterOf(uint8_t byte);

  QSize sizeHint() const override { return {300, 200}; }

protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  void scrollContentsBy(int dx, int dy) override;

private:
  void FontChanged();
  void Layout();
  void UpdateScrollRange();
  void BringCurrentLineIntoView();
  void InvalidateLine(int32_t line);
  void ApplyBorder();
  QRect MarkerRect(int row) const;

  TBorderStyle border_ = bsSingle;
  bool ctl3D_ = true;
  bool showAddress_ = true;
  bool showCharacters_ = true;
  bool showLineMarker_ = true;
  bool relativeAddress_ = false;
  std::array<QColor, 3> colors_;
  QColor color_;

  bool hasData_ = false;
  const uint8_t* data_ = nullptr;
  int32_t dataLength_ = 0;
  int32_t topLine_ = 0;
  int32_t currentLine_ = 0;
  int32_t visibleLines_ = 0;
  int32_t lineCount_ = 0;
  int32_t bytesPerLine_ = 1;
  int32_t lineHeight_ = 0;
  int32_t charWidth_ = 0;
  bool syncingScrollBar_ = false;
};

} // namespace orlendo
