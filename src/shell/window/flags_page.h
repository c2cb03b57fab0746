// The Flags page: the message-flag bits of the open message as a fixed check list that the user
// can read but not change.
#pragma once

#include <QWidget>
#include <cstdint>

#include "model/qvmsg.h"

class QTableWidget;

namespace orlendo {

struct TMessageFlagRow {
  const char* Flag;
  uint16_t Bit;
  const char* Description;
};

class TFlagsPage : public QWidget {
  Q_OBJECT

public:
  static const TMessageFlagRow kRows[13];

  explicit TFlagsPage(QWidget* parent = nullptr);

  // Ticks the rows whose bit is set in the message-flags property found anywhere in root (no
  // such property, or nullptr: every row unticked).
  void Fill(const TMSGProperties* root);
  void Clear();

  QTableWidget* FlagList() const { return lvMessageFlags; }

private:
  QTableWidget* lvMessageFlags;
};

} // namespace orlendo
