// Printing draws the message's PDF pages onto the printer: printed to a PDF file, the pages come
// out as many and on the same paper as the PDF export's, and the header and body are on them.
#include <gtest/gtest.h>

#include <QFile>
#include <QPrinter>
#include <filesystem>

#include "components/pdf_renderer.h"
#include "components/print_document.h"
#include "model/qvmsg.h"
#include "model/stream.h"
#include "shell/command_line.h"
#include "shell/window/print_command.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

using testutil::RunProcess;

std::string Info(const std::string& pdf, const char* field) {
  const std::string out = RunProcess("/usr/bin/pdfinfo", {pdf}).out;
  const size_t at = out.find(field);
  return at == std::string::npos ? std::string() : out.substr(at, out.find('\n', at) - at);
}

TEST(Print, PrinterPagesAreThePdfPages) {
  TPdfRenderer* renderer = InstallPdfRenderer();
  testutil::TempDir dir;
  // Drawn by Qt's PDF writer and by the web engine.
  for (const char* file : {"eml/mrdr_UTF-8_Test.eml", "msg/poi_attachment_msg_inlineImg.msg"}) {
    SCOPED_TRACE(file);
    const std::string path = testutil::CorpusPath(file);
    auto message = CreateMessageForFile(path);
    message->LoadFromFile(path);
    const QByteArray pdf = renderer->Render(message->Properties());
    const std::string exported = dir.File("exported.pdf");
    QFile out(QString::fromStdString(exported));
    ASSERT_TRUE(out.open(QIODevice::WriteOnly));
    out.write(pdf);
    out.close();

    const std::string printed = dir.File("printed.pdf");
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(QString::fromStdString(printed));
    printer.setPageLayout(LocalePageLayout());
    QString error;
    ASSERT_TRUE(PaintPdfPages(pdf, &printer, &error)) << error.toStdString();
    EXPECT_EQ(Info(printed, "Pages:"), Info(exported, "Pages:"));
    EXPECT_NE(Info(printed, "Page size:").find("(A4)"), std::string::npos)
        << Info(printed, "Page size:");
  }
  QString error;
  QPrinter printer(QPrinter::HighResolution);
  printer.setOutputFormat(QPrinter::PdfFormat);
  printer.setOutputFileName(QString::fromStdString(dir.File("none.pdf")));
  EXPECT_FALSE(PaintPdfPages("not a pdf", &printer, &error));
  EXPECT_FALSE(error.isEmpty());
}

TEST(Print, ATimeLimitEndsTheMessageAndTheNextStillPrints) {
  TPdfRenderer renderer;
  const std::string path = testutil::CorpusPath("msg/poi_attachment_msg_inlineImg.msg");
  auto message = CreateMessageForFile(path);
  message->LoadFromFile(path);
  renderer.SetTimeLimit(1);
  try {
    renderer.Render(message->Properties());
    ADD_FAILURE() << "no time limit";
  } catch (const EMSGError& e) {
    EXPECT_NE(std::string(e.what()).find("within"), std::string::npos) << e.what();
  }
  renderer.SetTimeLimit(60000);
  EXPECT_TRUE(renderer.Render(message->Properties()).startsWith("%PDF-"));
}

} // namespace
} // namespace orlendo
