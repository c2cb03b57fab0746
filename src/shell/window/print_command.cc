#include "shell/window/print_command.h"

#include <QPainter>
#include <QPdfDocument>
#include <QPrintDialog>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QTemporaryFile>
#include <algorithm>

#include "components/pdf_renderer.h"
#include "components/print_document.h"
#include "shell/window/desktop.h"

namespace orlendo {

namespace {

// Pages are drawn as images: at more than this a page of A4 would take hundreds of megabytes.
constexpr int kMaxPrintDpi = 300;

QByteArray RenderForPrinter(const TMSGProperties& level, QPrinter* printer) {
  TPdfRenderer* renderer = InstallPdfRenderer();
  QPageLayout layout = printer->pageLayout();
  layout.setUnits(QPageLayout::Millimeter);
  layout.setMargins(renderer->PageLayout().margins(QPageLayout::Millimeter));
  return renderer->Render(level, layout);
}

bool PrintTo(const TMSGProperties& level, QPrinter* printer, QString* error) {
  try {
    return PaintPdfPages(RenderForPrinter(level, printer), printer, error);
  } catch (const std::exception& e) {
    *error = QString::fromUtf8(e.what());
    return false;
  }
}

} // namespace

bool PaintPdfPages(const QByteArray& pdf, QPrinter* printer, QString* error) {
  // QPdfDocument reads a file at once; from a device it would load in the background.
  QTemporaryFile file;
  if (!file.open() || file.write(pdf) != pdf.size() || !file.flush()) {
    *error = QObject::tr("The pages could not be prepared for printing.");
    return false;
  }
  QPdfDocument document;
  if (document.load(file.fileName()) != QPdfDocument::Error::None || document.pageCount() == 0) {
    *error = QObject::tr("The pages could not be prepared for printing.");
    return false;
  }
  printer->setFullPage(true);
  QPainter painter;
  if (!painter.begin(printer)) {
    *error = QObject::tr("The printer could not be started.");
    return false;
  }
  const int dpi = std::min(printer->resolution(), kMaxPrintDpi);
  for (int i = 0; i < document.pageCount(); ++i) {
    if (i > 0 && !printer->newPage()) {
      *error = QObject::tr("The printer could not start a new page.");
      return false;
    }
    const QSizeF points = document.pagePointSize(i);
    const QSize pixels(qRound(points.width() * dpi / 72.0), qRound(points.height() * dpi / 72.0));
    const QImage image = document.render(i, pixels);
    const QRect paper = printer->paperRect(QPrinter::DevicePixel).toRect();
    painter.drawImage(QRect(0, 0, paper.width(), paper.height()), image);
  }
  return painter.end();
}

void PrintMessageCommand(QWidget* parent, const TMSGProperties& level) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageLayout(LocalePageLayout());
  QPrintDialog dialog(&printer, parent);
  if (dialog.exec() != QDialog::Accepted)
    return;
  QString error;
  if (!PrintTo(level, &printer, &error))
    ShowMessage(parent, error);
}

void PrintPreviewCommand(QWidget* parent, const TMSGProperties& level) {
  QPrinter printer(QPrinter::HighResolution);
  printer.setPageLayout(LocalePageLayout());
  QPrintPreviewDialog dialog(&printer, parent);
  dialog.setObjectName(QStringLiteral("dlgPrintPreview"));
  QString error;
  QObject::connect(&dialog, &QPrintPreviewDialog::paintRequested, &dialog, [&](QPrinter* target) {
    if (!PrintTo(level, target, &error))
      ShowMessage(&dialog, error);
  });
  dialog.exec();
}

} // namespace orlendo
