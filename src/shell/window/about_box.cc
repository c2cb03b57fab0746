#include "shell/window/about_box.h"

#include <QDialogButtonBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QUrl>
#include <QVBoxLayout>

#include "export/generator_text.h"
#include "shell/window/desktop.h"
#include "shell/window/images.h"

namespace orlendo {

TfrmAbout::TfrmAbout(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("frmAbout"));
  setWindowTitle(tr("About..."));
  auto* logo = new QLabel(this);
  logo->setPixmap(QIcon(LogoPath()).pixmap(96, 96));

  // The title twice, a white one a pixel right of and below a grey one: a shadow.
  auto* titleBox = new QWidget(this);
  QFont titleFont = font();
  titleFont.setPointSize(titleFont.pointSize() * 2);
  titleFont.setBold(true);
  auto* shadow = new QLabel(QStringLiteral("Orlendo"), titleBox);
  auto* title = new QLabel(QStringLiteral("Orlendo"), titleBox);
  for (QLabel* l : {shadow, title}) {
    l->setFont(titleFont);
    l->adjustSize();
  }
  shadow->setStyleSheet(QStringLiteral("color: grey"));
  title->setStyleSheet(QStringLiteral("color: white"));
  shadow->move(0, 0);
  title->move(1, 1);
  titleBox->setMinimumSize(title->width() + 2, title->height() + 2);

  // The version and the rights notice in two labels, one above the other, so that a language
  // file translates the notice without freezing the version number.
  auto* lblVersion = new QLabel(QString::fromLatin1(ProgramVersionText), this);
  lblVersion->setObjectName(QStringLiteral("lblVersion"));
  auto* lblCopyright = new QLabel(tr("Copyright (c) Norvane Software. All rights reserved."), this);
  lblCopyright->setObjectName(QStringLiteral("lblCopyright"));
  auto* versionBox = new QVBoxLayout;
  versionBox->setSpacing(0);
  versionBox->addWidget(lblVersion);
  versionBox->addWidget(lblCopyright);

  auto makeLink = [this](const QString& caption, const char* name) {
    auto* label =
        new QLabel(QStringLiteral("<a href=\"#\">%1</a>").arg(caption.toHtmlEscaped()), this);
    label->setObjectName(QLatin1String(name));
    label->setProperty("caption", caption);
    label->setTextInteractionFlags(Qt::LinksAccessibleByMouse | Qt::LinksAccessibleByKeyboard);
    connect(label, &QLabel::linkActivated, this, [this, label] { lblLinkClick(label); });
    return label;
  };
  lblHomePage = makeLink(QString::fromLatin1(HomePageAddress), "lblHomePage");
  lblHomePage->setProperty("tag", 0);
  lblMail = makeLink(QString::fromLatin1(SupportMailAddress), "lblMail");
  lblMail->setProperty("tag", 1);

  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
  buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("btnOK"));
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);

  auto* grid = new QGridLayout(this);
  grid->addWidget(logo, 0, 0, 4, 1, Qt::AlignTop);
  grid->addWidget(titleBox, 0, 1);
  grid->addLayout(versionBox, 1, 1);
  grid->addWidget(lblHomePage, 2, 1);
  grid->addWidget(lblMail, 3, 1);
  grid->addWidget(buttons, 4, 0, 1, 2);
  setLayout(grid);
}

void TfrmAbout::lblLinkClick(QLabel* label) {
  const QString caption = label->property("caption").toString();
  if (label->property("tag").toInt() == 1)
    OpenUrl(QUrl(QStringLiteral("mailto:") + caption));
  else
    OpenUrl(QUrl(caption));
}

} // namespace orlendo
