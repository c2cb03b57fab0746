// Pictures of the inspector pages for a person to look at, not a check: with
// ORLENDO_SCREENSHOT_DIR set, writes one PNG per page for each message named in
// ORLENDO_SCREENSHOT_FILES (paths separated by ':'; by default a Latin, a Cyrillic and a CJK
// corpus message). Skipped otherwise.
//   ORLENDO_SCREENSHOT_DIR=/tmp/shots build/tests/test_window
//   --gtest_filter='InspectorScreenshots*'
#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QTabWidget>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>

#include "msg/qvmsgfile.h"
#include "shell/window/flags_page.h"
#include "shell/window/header_page.h"
#include "shell/window/properties_page.h"
#include "shell/window/property_tree_model.h"
#include "shell/window/structure_page.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

TEST(InspectorScreenshots, WritesEachPageOfEachMessage) {
  const QString dir = qEnvironmentVariable("ORLENDO_SCREENSHOT_DIR");
  if (dir.isEmpty())
    GTEST_SKIP() << "ORLENDO_SCREENSHOT_DIR is not set";
  QStringList files =
      qEnvironmentVariable("ORLENDO_SCREENSHOT_FILES").split(QLatin1Char(':'), Qt::SkipEmptyParts);
  if (files.isEmpty()) {
    for (const char* name : {"msg/poi_attachment_test_msg.msg", "msg/poi_ASCII_CP1251_LCID1049.msg",
                             "msg/kmr_Hello_CJK.msg"})
      files << QString::fromStdString(testutil::CorpusPath(name));
  }
  ASSERT_TRUE(QDir().mkpath(dir));
  for (const QString& file : files) {
    TQvMSGFile message;
    try {
      message.LoadFromFile(file.toStdString());
    } catch (const std::exception& e) {
      ADD_FAILURE() << file.toStdString() << ": " << e.what();
    }
    QTabWidget pages;
    auto* properties = new TPropertiesPage;
    auto* structure = new TStructurePage;
    auto* header = new THeaderPage;
    auto* flags = new TFlagsPage;
    pages.addTab(properties, QStringLiteral("Properties"));
    pages.addTab(structure, QStringLiteral("Structure"));
    pages.addTab(header, QStringLiteral("Transport Header"));
    pages.addTab(flags, QStringLiteral("Flags"));
    pages.resize(1000, 650);
    pages.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&pages));
    structure->Build(file.toStdString());
    properties->SetMessage(&message);
    header->Fill(&message.Properties());
    flags->Fill(&message.Properties());
    // The plain body (else the subject), to show the details group with the message's text.
    const TPropertyTreeModel& model = *properties->PropertyModel();
    for (uint16_t id : {0x0037, 0x1000}) {
      for (int row = 0; row < model.rowCount(); ++row) {
        const TMSGProperty* record = TPropertyTreeModel::Record(model.index(row, 0));
        if (PropId(record->TagID) == id && record->DataSize > 0)
          properties->PropertyTree()->setCurrentIndex(model.index(row, 0));
      }
    }
    const QString stem = QFileInfo(file).completeBaseName();
    for (int page = 0; page < pages.count(); ++page) {
      pages.setCurrentIndex(page);
      QApplication::processEvents();
      const QString png = QStringLiteral("%1/%2-%3.png").arg(dir, stem).arg(page);
      EXPECT_TRUE(pages.grab().toImage().save(png)) << png.toStdString();
    }
    // The hex view of the subject as well.
    pages.setCurrentIndex(0);
    if (auto* tabs = properties->findChild<QTabWidget*>(QStringLiteral("pcPropValue"))) {
      tabs->setCurrentIndex(1);
      QApplication::processEvents();
      pages.grab().toImage().save(QStringLiteral("%1/%2-hex.png").arg(dir, stem));
    }
    properties->Clear();
  }
}

} // namespace
} // namespace orlendo
