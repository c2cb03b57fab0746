#include "components/hex_dump.h"

#include <QFocusEvent>
#include <QFontDatabase>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionFocusRect>
#include <QVBoxLayout>
#include <algorithm>

#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

constexpr int kAddressChars = 10; // "XXXXXXXX: "
constexpr char kHexDigits[] = "0123456789ABCDEF";

} // namespace

QChar THexDump::CharacterOf(uint8_t b) {
  static const std::array<QChar, 256> table = [] {
    std::array<QChar, 256> chars;
    for (int i = 0; i < 256; ++i) {
      const char byte = static_cast<char>(i);
      const std::u16string wide = CodePageToWide(std::string_view(&byte, 1), 1252);
      const QChar c = wide.size() == 1 ? QChar(wide[0]) : QChar();
      chars[static_cast<size_t>(i)] =
          i >= 32 && c.isPrint() && c != QChar::ReplacementCharacter ? c : QLatin1Char('.');
    }
    return chars;
  }();
  return table[b];
}

THexDump::THexDump(QWidget* parent) : QAbstractScrollArea(parent) {
  colors_ = {palette().color(QPalette::Text), palette().color(QPalette::Text),
             palette().color(QPalette::Highlight)};
  color_ = palette().color(QPalette::Base);
  setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setFocusPolicy(Qt::StrongFocus);
  // The whole client area is painted here, and a one-line scroll repaints only what it uncovers.
  viewport()->setAttribute(Qt::WA_OpaquePaintEvent);
  viewport()->setAutoFillBackground(false);
  resize(300, 200);
  ApplyBorder();
  FontChanged();
}

THexDump* THexDump::CreateHexDump(QWidget* parent) {
  auto* dump = new THexDump(parent);
  dump->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  if (parent != nullptr) {
    QLayout* layout = parent->layout();
    if (layout == nullptr) {
      layout = new QVBoxLayout(parent);
      layout->setContentsMargins(0, 0, 0, 0);
    }
    layout->addWidget(dump);
  }
  return dump;
}

void THexDump::ApplyBorder() {
  if (border_ == bsNone) {
    setFrameStyle(QFrame::NoFrame);
  } else if (ctl3D_) {
    setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
  } else {
    setFrameStyle(QFrame::Box | QFrame::Plain);
    setLineWidth(1);
  }
}

void THexDump::SetBorder(TBorderStyle value) {
  if (value == border_)
    return;
  border_ = value;
  ApplyBorder();
}

void THexDump::SetCtl3D(bool value) {
  if (value == ctl3D_)
    return;
  ctl3D_ = value;
  if (border_ == bsSingle)
    ApplyBorder();
}

void THexDump::SetShowAddress(bool value) {
  if (value == showAddress_)
    return;
  showAddress_ = value;
  Layout();
  viewport()->update();
  UpdateScrollRange();
}

void THexDump::SetShowCharacters(bool value) {
  if (value == showCharacters_)
    return;
  showCharacters_ = value;
  Layout();
  viewport()->update();
  UpdateScrollRange();
}

void THexDump::SetShowLineMarker(bool value) {
  if (value == showLineMarker_)
    return;
  showLineMarker_ = value;
  viewport()->update();
}

void THexDump::SetRelativeAddress(bool value) {
  if (value == relativeAddress_)
    return;
  relativeAddress_ = value;
  if (showAddress_)
    viewport()->update();
}

QColor THexDump::GetColors(int index) const {
  return index >= 0 && index < 3 ? colors_[static_cast<size_t>(index)] : QColor();
}

void THexDump::SetColors(int index, const QColor& value) {
  if (index < 0 || index >= 3 || colors_[static_cast<size_t>(index)] == value)
    return;
  colors_[static_cast<size_t>(index)] = value;
  viewport()->update();
}

void THexDump::SetColor(const QColor& value) {
  if (value == color_)
    return;
  color_ = value;
  viewport()->update();
}

void THexDump::SetDataPointer(const void* data) {
  data_ = static_cast<const uint8_t*>(data);
  hasData_ = data_ != nullptr;
  if (!hasData_) {
    SetDataLength(0);
    return;
  }
  viewport()->update();
  SetCurrentLine(0);
  BringCurrentLineIntoView();
}

void THexDump::SetDataLength(int32_t length) {
  dataLength_ = std::max(length, 0);
  Layout();
  viewport()->update();
  UpdateScrollRange();
}

void THexDump::FontChanged() {
  const QFontMetrics metrics(font());
  lineHeight_ = metrics.height() + 2;
  charWidth_ = metrics.horizontalAdvance(QLatin1Char('D')) + 1;
  Layout();
  UpdateScrollRange();
}

void THexDump::Layout() {
  if (lineHeight_ < 1 || charWidth_ < 1)
    return;
  const QSize client = viewport()->size();
  visibleLines_ = client.height() / lineHeight_ + 1;
  int w = client.width() / charWidth_;
  if (showAddress_)
    w -= kAddressChars;
  // Two digits and a separator per byte, and its character when that column is shown.
  w /= showCharacters_ ? 4 : 3;
  bytesPerLine_ = std::clamp(w, 1, 16);
  lineCount_ = dataLength_ / bytesPerLine_ + (dataLength_ % bytesPerLine_ != 0 ? 1 : 0);
  if (currentLine_ > lineCount_ - 1)
    SetCurrentLine(lineCount_ - 1);
  if (topLine_ > lineCount_ - 1)
    SetTopLine(lineCount_ - 1);
}

void THexDump::UpdateScrollRange() {
  QScrollBar* bar = verticalScrollBar();
  syncingScrollBar_ = true;
  bar->setRange(0, std::max(lineCount_ - 1, 0));
  bar->setSingleStep(1);
  bar->setPageStep(std::max(visibleLines_ - 1, 1));
  bar->setValue(topLine_);
  syncingScrollBar_ = false;
}

void THexDump::SetTopLine(int32_t line) {
  line = std::max(std::min(line, lineCount_ - 1), 0);
  if (line == topLine_)
    return;
  const int32_t moved = line - topLine_;
  topLine_ = line;
  syncingScrollBar_ = true;
  verticalScrollBar()->setValue(topLine_);
  syncingScrollBar_ = false;
  if (moved == 1 || moved == -1) {
    // Moving the view down shifts the pixels up; Qt repaints only the strip this uncovers.
    viewport()->scroll(0, -moved * lineHeight_);
  } else {
    viewport()->update();
  }
}

void THexDump::SetCurrentLine(int32_t line) {
  line = std::max(std::min(line, lineCount_ - 1), 0);
  if (line == currentLine_)
    return;
  InvalidateLine(currentLine_);
  currentLine_ = line;
  InvalidateLine(currentLine_);
  BringCurrentLineIntoView();
}

void THexDump::BringCurrentLineIntoView() {
  if (currentLine_ < topLine_) {
    SetTopLine(currentLine_);
  } else if (currentLine_ >= topLine_ + visibleLines_ - 1) {
    // The current line becomes the last fully visible one.
    SetTopLine(currentLine_ + 2 - visibleLines_);
  }
}

void THexDump::InvalidateLine(int32_t line) {
  if (line < topLine_ || line >= topLine_ + visibleLines_ || lineHeight_ < 1)
    return;
  viewport()->update(0, (line - topLine_) * lineHeight_, viewport()->width(), lineHeight_);
}

QRect THexDump::MarkerRect(int row) const {
  const int addressWidth = showAddress_ ? kAddressChars * charWidth_ : 0;
  return {addressWidth, row * lineHeight_, 3 * bytesPerLine_ * charWidth_ - charWidth_ + 1,
          lineHeight_};
}

void THexDump::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  const QRect dirty = event->rect();
  const int clientWidth = viewport()->width();
  painter.fillRect(dirty, color_);
  if (lineHeight_ < 1)
    return;
  painter.setFont(font());
  const int ascent = painter.fontMetrics().ascent();
  const int addressWidth = showAddress_ ? kAddressChars * charWidth_ : 0;
  const QPalette& pal = palette();
  const int firstRow = std::max(dirty.top() / lineHeight_, 0);
  const int lastRow = std::min(dirty.bottom() / lineHeight_, visibleLines_ - 1);
  for (int row = firstRow; row <= lastRow; ++row) {
    const int y = row * lineHeight_;
    const int64_t line = static_cast<int64_t>(topLine_) + row;
    if (line >= lineCount_ || data_ == nullptr)
      continue; // the background is already there
    const int baseline = y + 1 + ascent;
    const int64_t offset = line * bytesPerLine_;
    if (showAddress_) {
      uint32_t address = static_cast<uint32_t>(offset);
      if (!relativeAddress_)
        address += static_cast<uint32_t>(reinterpret_cast<uintptr_t>(data_));
      char text[16];
      std::snprintf(text, sizeof text, "%08X: ", address);
      painter.save();
      painter.setClipRect(0, y, addressWidth, lineHeight_);
      painter.setPen(colors_[ciAddress]);
      painter.drawText(1, baseline, QString::fromLatin1(text));
      painter.restore();
    }
    const bool marked = showLineMarker_ && line == currentLine_;
    if (marked)
      painter.fillRect(MarkerRect(row), pal.color(QPalette::Highlight));
    int n = bytesPerLine_;
    if (line == lineCount_ - 1 && dataLength_ % bytesPerLine_ > 0)
      n = dataLength_ % bytesPerLine_;
    const uint8_t* bytes = data_ + offset;
    painter.setPen(marked ? pal.color(QPalette::HighlightedText) : colors_[ciHexData]);
    for (int k = 0; k < n; ++k) {
      const QChar digits[2] = {QLatin1Char(kHexDigits[bytes[k] >> 4]),
                               QLatin1Char(kHexDigits[bytes[k] & 0x0F])};
      painter.drawText(1 + addressWidth + 3 * k * charWidth_, baseline, QString(digits, 2));
    }
    if (marked && hasFocus()) {
      QStyleOptionFocusRect option;
      option.initFrom(this);
      option.rect = MarkerRect(row);
      option.backgroundColor = pal.color(QPalette::Highlight);
      style()->drawPrimitive(QStyle::PE_FrameFocusRect, &option, &painter, this);
    }
    if (showCharacters_) {
      QString text(n, QLatin1Char('.'));
      for (int k = 0; k < n; ++k)
        text[k] = CharacterOf(bytes[k]);
      const int x = 3 * bytesPerLine_ * charWidth_ + addressWidth;
      painter.save();
      painter.setClipRect(x, y, std::max(clientWidth - x, 0), lineHeight_);
      painter.setPen(colors_[ciAnsiChar]);
      painter.drawText(x, baseline, text);
      painter.restore();
    }
  }
}

void THexDump::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  Layout();
  UpdateScrollRange();
}

void THexDump::keyPressEvent(QKeyEvent* event) {
  if (!hasData_) {
    QWidget::keyPressEvent(event);
    return;
  }
  switch (event->key()) {
  case Qt::Key_PageUp:
    SetCurrentLine(currentLine_ - visibleLines_);
    break;
  case Qt::Key_PageDown:
    SetCurrentLine(currentLine_ + visibleLines_);
    break;
  case Qt::Key_End:
    SetCurrentLine(lineCount_ - 1);
    break;
  case Qt::Key_Home:
    SetCurrentLine(0);
    break;
  case Qt::Key_Up:
    SetCurrentLine(currentLine_ - 1);
    break;
  case Qt::Key_Down:
    SetCurrentLine(currentLine_ + 1);
    break;
  default:
    // Not the scroll area's own handling: it would move the view as well as the line.
    QWidget::keyPressEvent(event);
    return;
  }
  event->accept();
}

void THexDump::mousePressEvent(QMouseEvent* event) {
  if (!hasFocus())
    setFocus(Qt::MouseFocusReason);
  if (event->button() == Qt::LeftButton && hasData_ && lineHeight_ > 0)
    SetCurrentLine(static_cast<int32_t>(event->position().y()) / lineHeight_ + topLine_);
}

void THexDump::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  if (showLineMarker_)
    InvalidateLine(currentLine_);
}

void THexDump::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  if (showLineMarker_)
    InvalidateLine(currentLine_);
}

void THexDump::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    FontChanged();
    viewport()->update();
  }
}

void THexDump::scrollContentsBy(int /*dx*/, int /*dy*/) {
  // The scroll bar moves the view only; the current line stays.
  if (syncingScrollBar_)
    return;
  if (dataLength_ > 0 && hasData_) {
    SetTopLine(verticalScrollBar()->value());
  } else {
    syncingScrollBar_ = true;
    verticalScrollBar()->setValue(topLine_);
    syncingScrollBar_ = false;
  }
}

} // namespace orlendo
