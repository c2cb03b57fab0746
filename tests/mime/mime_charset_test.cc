// Messages in several charsets, in bodies and in encoded-word subjects, read through the
// accessors. Parts in charsets other than UTF-8 keep their bytes and their code page; the text
// must come out right all the same.
#include <gtest/gtest.h>

#include "mime/qvemlfile.h"
#include "mime_test_util.h"

namespace orlendo {
namespace {

using namespace mimetest;

std::unique_ptr<TQvEMLFile> LoadData(const std::string& name) {
  auto reader = std::make_unique<TQvEMLFile>();
  reader->LoadFromFile(std::string(ORLENDO_TESTDATA_DIR) + "/mime/" + name);
  return reader;
}

struct CharsetCase {
  const char* file;
  int codePage; // MESSAGE_CODEPAGE as stored
  const char* subject;
  const char* from;
  const char* body;
  const char* html;
};

const CharsetCase kCases[] = {
    {"charset_koi8r.eml", 20866, "Отчёт за квартал", "\"Иван Петров\" <ivan@example.ru>",
     "Привет, мир! Ёлка и ёж.\r\nВторая строка.\r\n", ""},
    {"charset_iso2022jp.eml", 50220, "会議の議事録", "taro@example.jp",
     "こんにちは、世界。添付ファイルを確認してください。\r\n", ""},
    {"charset_windows1251.eml", 1251, "Счёт №15 оплачен", "olga@example.ua",
     "Добрый день! Счёт №15 оплачен полностью.\r\n", ""},
    {"charset_windows1252.eml", 1252, "Café – prix 5 €", "marc@example.fr", "",
     "<html><body><p>Le café coûte 5 € – «merci» …</p></body></html>\r\n"},
    {"charset_iso88591.eml", 28591, "Año nuevo en Málaga", "jose@example.es",
     "Feliz año, señor Müller! ¡Hasta mañana!\r\n", ""},
    {"charset_utf8.eml", 65001, "Grüße 🌍 aus Zürich", "\"Jürg Müller\" <jurg@example.ch>",
     "Grüße aus Zürich 🌍 – 日本語 – Ελληνικά\r\n", ""},
};

TEST(MimeCharsets, SubjectsAndBodiesComeOutAsText) {
  for (const CharsetCase& c : kCases) {
    SCOPED_TRACE(c.file);
    auto reader = LoadData(c.file);
    const TMSGProperties& root = reader->Properties();
    EXPECT_EQ(U8(root.GetSubject()), c.subject);
    EXPECT_EQ(U8(root.GetFrom()), c.from);
    EXPECT_EQ(U8(root.GetBody()), c.body);
    EXPECT_EQ(U8(root.GetBodyHTML()), c.html);
    const TMSGProperty* cp = Find(root, kMessageCodePage);
    ASSERT_NE(cp, nullptr);
    EXPECT_EQ(cp->Value.AsInteger(), c.codePage);
    EXPECT_EQ(root.GetCodePage(), c.codePage);
  }
}

TEST(MimeCharsets, EightBitPartsKeepTheirBytes) {
  auto reader = LoadData("charset_koi8r.eml");
  const TMSGProperty* body = Find(reader->Properties(), kBody);
  ASSERT_NE(body, nullptr);
  ASSERT_TRUE(body->Value.IsBytes());
  // "Привет" in KOI8-R, as the file holds it.
  EXPECT_EQ(body->Value.Bytes().substr(0, 6), "\xF0\xD2\xC9\xD7\xC5\xD4");
}

TEST(MimeCharsets, AlternativesInDifferentCharsetsEachDecodeWithTheirOwn) {
  auto reader = LoadData("charset_mixed_alternative.eml");
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(U8(root.GetBody()), "Текст письма в KOI8-R.");
  EXPECT_EQ(U8(root.GetBodyHTML()), "<html><body>Текст письма в windows-1251.</body></html>");
  // The white space between the two adjacent encoded words is dropped (the second word brings
  // its own blank, encoded).
  EXPECT_EQ(U8(root.GetSubject()), "Два набора символови ещё один");
}

TEST(MimeCharsets, IllFormedUtf8BodyIsRepairedButAttachmentsKeepTheirBytes) {
  const std::string bad = "caf\xC3\xA9 \xFF\xFE end";
  auto reader =
      Load(Join({"Content-Type: multipart/mixed; boundary=B", "", "--B",
                 "Content-Type: text/plain; charset=utf-8", "", bad, "--B",
                 "Content-Type: text/plain; charset=utf-8; name=raw.txt", "", bad, "--B--"}));
  const TMSGProperties& root = reader->Properties();
  EXPECT_EQ(U8(root.GetBody()), "café \uFFFD\uFFFD end");
  ASSERT_EQ(root.AttachmentCount(), 1);
  EXPECT_EQ(AttachmentData(root, 0), bad);
}

TEST(MimeCharsets, EncodedWordsInManyCharsetsInOneHeader) {
  auto reader = Load(Join({"Subject: =?koi8-r?B?8NLJ18XU?= / =?ISO-2022-JP?B?GyRCRnxLXDhsGyhC?= "
                           "/ =?windows-1252?Q?=80?= / =?utf-8?B?8J+Ygg==?=",
                           "", "x"}));
  EXPECT_EQ(U8(reader->Properties().GetSubject()), "Привет / 日本語 / € / 😂");
}

} // namespace
} // namespace orlendo
