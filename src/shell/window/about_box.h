// The About box: logo, product title with its shadow, version and rights notice, and the
// maker's home page and mail address as links.
#pragma once

#include <QDialog>

class QLabel;

namespace orlendo {

inline constexpr char ProgramVersionText[] = "v2.6 (build 471)";
inline constexpr char SupportMailAddress[] = "support@orlendo.example.org";

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
