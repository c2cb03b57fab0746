// The About box: logo, product title with its shadow, version and rights notice, and the
// maker's home page and mail address as links.
#pragma once

#include <QDialog>

#include "app/program_version.h"

class QLabel;

namespace orlendo {

inline constexpr const char* ProgramVersionText = kProgramVersion;
inline constexpr const char* SupportMailAddress = kSupportMailAddress;

class TfrmAbout : public QDialog {
  Q_OBJECT

public:
  explicit TfrmAbout(QWidget* parent = nullptr);

  QLabel* lblHomePage = nullptr; // Tag 0: opens its caption
  QLabel* lblMail = nullptr;     // Tag 1: opens "mailto:" + its caption

private:
  void lblLinkClick(QLabel* label);
};

} // namespace orlendo
