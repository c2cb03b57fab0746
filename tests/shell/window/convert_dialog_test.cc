// File > Convert files...: the batch engine run from the dialog off the window's thread, its
// summary and the offer to open the target, and cancelling.
#include <gtest/gtest.h>

#include <QComboBox>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <filesystem>

#include "shell/window/convert_dialog.h"
#include "shell/window/desktop.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

namespace fs = std::filesystem;

class ConvertDialog : public ::testing::Test {
protected:
  void SetUp() override {
    saved_ = DesktopHooks();
    DesktopHooks().ShowMessage = [this](QWidget*, const QString& text) { messages_ << text; };
    DesktopHooks().Confirm = [this](QWidget*, const QString& text) {
      messages_ << text;
      return true;
    };
    DesktopHooks().OpenUrl = [this](const QUrl& url) { opened_ << url; };
    in_ = work_.File("in");
    fs::create_directories(in_ + "/sub");
    for (const std::string& f : testutil::CorpusFiles("msg", ".msg"))
      fs::copy_file(f, in_ + "/sub/" + fs::path(f).filename().string());
    for (const std::string& f : testutil::CorpusFiles("eml", ".eml"))
      fs::copy_file(f, in_ + "/" + fs::path(f).filename().string());
  }
  void TearDown() override { DesktopHooks() = saved_; }

  // Runs the dialog's conversion to format into target and waits for its end.
  void Run(TfrmConvert& dialog, const QString& format, const QString& target) {
    dialog.AddInputs({QString::fromStdString(in_)});
    dialog.cbFormat->setCurrentIndex(dialog.cbFormat->findData(format));
    dialog.edTarget->setText(target);
    QSignalSpy finished(&dialog, &TfrmConvert::Finished);
    dialog.Start();
    ASSERT_TRUE(dialog.Running());
    ASSERT_TRUE(finished.wait(120000));
    EXPECT_FALSE(dialog.Running());
  }

  TDesktopHooks saved_;
  testutil::TempDir work_;
  std::string in_;
  QStringList messages_;
  QList<QUrl> opened_;
};

TEST_F(ConvertDialog, ConvertsTheTreeOffTheWindowThreadAndOffersTheTarget) {
  TfrmConvert dialog;
  dialog.show();
  const QString target = QString::fromStdString(work_.File("out"));
  Run(dialog, "eml", target);
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].contains(QRegularExpression("^\\d+ converted, [1-9]\\d* failed, 0 "
                                                       "skipped\\.")))
      << messages_[0].toStdString();
  EXPECT_EQ(opened_, QList<QUrl>{QUrl::fromLocalFile(target)});
  EXPECT_TRUE(fs::exists(work_.File("out/sub/poi_blank.eml")));
  EXPECT_TRUE(fs::exists(work_.File("out/mailparser_nested.eml")));

  // mbox: the folder offered is the one that holds the file.
  messages_.clear();
  opened_.clear();
  Run(dialog, "mbox", QString::fromStdString(work_.File("all.mbox")));
  EXPECT_TRUE(fs::exists(work_.File("all.mbox")));
  EXPECT_EQ(opened_, QList<QUrl>{QUrl::fromLocalFile(QString::fromStdString(work_.Path()))});

  // PDF: the workers wait for the renderer on the window's thread, which goes on serving it.
  messages_.clear();
  Run(dialog, "pdf", QString::fromStdString(work_.File("pdf")));
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(messages_[0].contains(QRegularExpression("^\\d+ converted, [1-9]\\d* failed, 0 "
                                                       "skipped\\.")))
      << messages_[0].toStdString();
  for (const char* pdf : {"pdf/sub/poi_attachment_msg_inlineImg.pdf", "pdf/mailparser_nested.pdf"})
    EXPECT_EQ(testutil::RunProcess("/usr/bin/pdfinfo", {work_.File(pdf)}).exitCode, 0) << pdf;
}

TEST_F(ConvertDialog, CancellingEndsTheRunAndSaysSo) {
  TfrmConvert dialog;
  dialog.AddInputs({QString::fromStdString(in_)});
  dialog.edTarget->setText(QString::fromStdString(work_.File("out")));
  QSignalSpy finished(&dialog, &TfrmConvert::Finished);
  dialog.Start();
  dialog.Cancel();
  ASSERT_TRUE(finished.wait(120000));
  ASSERT_EQ(messages_.size(), 1);
  EXPECT_TRUE(dialog.SummaryText().contains("Cancelled.")) << dialog.SummaryText().toStdString();
}

TEST_F(ConvertDialog, NothingToConvertOrNoTargetRunsNothing) {
  TfrmConvert dialog;
  dialog.edTarget->setText(QString::fromStdString(work_.File("out")));
  dialog.Start();
  EXPECT_FALSE(dialog.Running());
  dialog.AddInputs({QString::fromStdString(in_)});
  dialog.edTarget->clear();
  dialog.Start();
  EXPECT_FALSE(dialog.Running());
  EXPECT_EQ(messages_.size(), 2);
  EXPECT_FALSE(fs::exists(work_.File("out")));
}

} // namespace
} // namespace orlendo
