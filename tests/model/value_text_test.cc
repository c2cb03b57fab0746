// Values as text: 8-bit strings decoded with the code page of their message level, and the
// rendering of the other kinds.
#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <string>

#include "model/qvmsg.h"

namespace orlendo {
namespace {

// "Привет" in Windows-1251 and "日本" in Shift-JIS (932).
const std::string kCp1251Bytes = "\xCF\xF0\xE8\xE2\xE5\xF2";
const std::string kCp932Bytes = "\x93\xFA\x96\x7B";

// A .msg-like root: the message's own properties sit in its property stream record.
TMSGProperty* AddPropertyStream(TMSGProperties& level) {
  TMSGProperty* stream = level.Add();
  stream->Value = TVariant::FromWide(u"__properties_version1.0");
  return stream;
}

TMSGProperty* AddText(TMSGProperties& level, const std::string& bytes) {
  return level.AddProperty(0x0037001E, TVariant::FromBytes(bytes));
}

TEST(GetValueText, MessageCodePageDecodesEightBitStrings) {
  TQvMessage message;
  TMSGProperties& root = message.Properties();
  AddPropertyStream(root)->SubProperties().AddProperty(0x3FFD0003, TVariant::FromInteger(1251));
  TMSGProperty* subject = AddText(root, kCp1251Bytes);
  EXPECT_EQ(subject->GetValueText(), u"Привет");
  EXPECT_EQ(subject->Value.Bytes(), kCp1251Bytes); // the model keeps the stored bytes
  EXPECT_EQ(root.GetPropertyText(0x00370000, true, false), u"Привет");

  // The same code page also applies to the other byte-string types (an HTML body stored as
  // binary is text of the message too) and inside recipient levels.
  TMSGProperty* recipient = root.Add();
  recipient->TagID = TAG_RECIPIENT_NODE;
  TMSGProperty* name =
      recipient->SubProperties().AddProperty(0x3001001E, TVariant::FromBytes(kCp1251Bytes));
  EXPECT_EQ(name->GetValueText(), u"Привет");
  EXPECT_EQ(root.AddProperty(0x10130102, TVariant::FromBytes(kCp1251Bytes))->GetValueText(),
            u"Привет");
}

TEST(GetValueText, MessageCodePageWinsOverTheInternetCodePage) {
  TQvMessage message;
  TMSGProperties& props = AddPropertyStream(message.Properties())->SubProperties();
  props.AddProperty(0x3FDE0003, TVariant::FromInteger(1251));
  props.AddProperty(0x3FFD0003, TVariant::FromInteger(932));
  EXPECT_EQ(AddText(message.Properties(), kCp932Bytes)->GetValueText(), u"日本");
}

TEST(GetValueText, InternetCodePageStandsForItsWindowsFamily) {
  const std::pair<int, const std::string*> cases[] = {
      {20866, &kCp1251Bytes}, // KOI8-R text is stored in Windows-1251
      {28595, &kCp1251Bytes}, // ISO-8859-5 likewise
      {50220, &kCp932Bytes},  // ISO-2022-JP -> 932
      {51932, &kCp932Bytes},  // EUC-JP -> 932
      {1251, &kCp1251Bytes},  // a Windows code page stands for itself
  };
  for (const auto& [cpid, bytes] : cases) {
    SCOPED_TRACE(cpid);
    TQvMessage message;
    AddPropertyStream(message.Properties())
        ->SubProperties()
        .AddProperty(0x3FDE0003, TVariant::FromInteger(cpid));
    EXPECT_EQ(AddText(message.Properties(), *bytes)->GetValueText(),
              bytes == &kCp932Bytes ? u"日本" : u"Привет");
  }
}

TEST(GetValueText, WithoutCodePageUtf8WhenValidElseWindows1252) {
  TQvMessage message;
  EXPECT_EQ(AddText(message.Properties(), "Gr\xC3\xBC\xC3\x9F\x65")->GetValueText(), u"Grüße");
  EXPECT_EQ(AddText(message.Properties(), "caf\xE9 \x80")->GetValueText(), u"café €");

  // A declared UTF-8 code page with bytes that are not UTF-8 also falls back to 1252.
  TQvMessage declared;
  AddPropertyStream(declared.Properties())
      ->SubProperties()
      .AddProperty(0x3FFD0003, TVariant::FromInteger(65001));
  EXPECT_EQ(AddText(declared.Properties(), "caf\xE9")->GetValueText(), u"café");
  EXPECT_EQ(AddText(declared.Properties(), "caf\xC3\xA9")->GetValueText(), u"café");
}

TEST(GetValueText, EmbeddedMessageUsesItsOwnCodePageElseTheRootOne) {
  TQvMessage message;
  TMSGProperties& root = message.Properties();
  AddPropertyStream(root)->SubProperties().AddProperty(0x3FFD0003, TVariant::FromInteger(1251));
  TMSGProperty* attachment = root.Add();
  attachment->TagID = TAG_ATTACHMENT_NODE;
  TMSGProperty* object = attachment->SubProperties().Add();
  object->TagID = TAG_ATTACH_DATA_OBJ;
  object->Value = TVariant::FromWide(u"3701000D");
  TMSGProperties& embedded = object->SubProperties();
  TMSGProperty* inner = AddText(embedded, kCp932Bytes);
  // No code page of its own yet: the root's applies.
  EXPECT_EQ(&embedded.MessageLevel(), &embedded);
  EXPECT_EQ(&attachment->SubProperties().MessageLevel(), &root);
  EXPECT_NE(inner->GetValueText(), u"日本");
  AddPropertyStream(embedded)->SubProperties().AddProperty(0x3FFD0003, TVariant::FromInteger(932));
  EXPECT_EQ(inner->GetValueText(), u"日本");
  // The root's own strings keep the root's code page.
  EXPECT_EQ(AddText(root, kCp1251Bytes)->GetValueText(), u"Привет");
}

TEST(GetValueText, OtherKindsRenderAsTheirText) {
  std::setlocale(LC_ALL, "C");
  TMSGProperties level(nullptr);
  EXPECT_EQ(level.AddProperty(0x0E070003, TVariant::FromInteger(-42))->GetValueText(), u"-42");
  EXPECT_EQ(level.AddProperty(0x0037001F, TVariant::FromWide(u"wide"))->GetValueText(), u"wide");
  EXPECT_EQ(level.AddProperty(0x0001000B, TVariant::FromBoolean(true))->GetValueText(), u"True");
  EXPECT_EQ(level.AddProperty(0x00010005, TVariant::FromFloating(2.5))->GetValueText(), u"2.5");
  EXPECT_EQ(level.AddProperty(0x00010006, TVariant::FromCurrency(-12500))->GetValueText(),
            u"-1.25");
  EXPECT_EQ(level.AddProperty(0x00010001, TVariant::Null())->GetValueText(), u"");
  EXPECT_EQ(level.Add()->GetValueText(), u"");
  // 2021-03-04 05:06:07 in the C locale's %x %X form; a date without a time shows the date alone.
  TDateTimeParts when{2021, 3, 4, 5, 6, 7, 0};
  EXPECT_EQ(TVariant::FromDateTime(JoinDateTime(when)).ToUtf8(), "03/04/21 05:06:07");
  EXPECT_EQ(TVariant::FromDateTime(JoinDateTime({2021, 3, 4, 0, 0, 0, 0})).ToUtf8(), "03/04/21");
}

TEST(DateTime, PartsRoundTripOnBothSidesOfTheEpoch) {
  const TDateTimeParts cases[] = {
      {1899, 12, 30, 0, 0, 0, 0},     {1899, 12, 29, 6, 0, 0, 0},   {1601, 1, 1, 0, 0, 0, 0},
      {2000, 2, 29, 23, 59, 59, 999}, {9999, 12, 31, 12, 30, 0, 5}, {1970, 1, 1, 0, 0, 0, 1},
  };
  for (const TDateTimeParts& p : cases) {
    const TDateTimeParts q = SplitDateTime(JoinDateTime(p));
    EXPECT_EQ(std::tie(q.Year, q.Month, q.Day, q.Hour, q.Minute, q.Second, q.Millisecond),
              std::tie(p.Year, p.Month, p.Day, p.Hour, p.Minute, p.Second, p.Millisecond))
        << p.Year << "-" << p.Month << "-" << p.Day;
  }
  // Before the epoch the fraction is the time of day, as on Windows.
  EXPECT_DOUBLE_EQ(JoinDateTime({1899, 12, 29, 6, 0, 0, 0}), -1.25);
  EXPECT_DOUBLE_EQ(JoinDateTime({2000, 1, 1, 12, 0, 0, 0}), 36526.5);
}

TEST(GetName, NodesAreNamedByTheirValueAndLeavesByTheDictionary) {
  TMSGProperties root(nullptr);
  TMSGProperty* stream = root.Add();
  stream->SubProperties().AddProperty(0x0E070003, TVariant::FromInteger(1));
  EXPECT_EQ(stream->GetName(false, false), "Properties");
  stream->Value = TVariant::FromWide(u"__properties_version1.0");
  EXPECT_EQ(stream->GetName(false, false), "__properties_version1.0");
  EXPECT_EQ(stream->GetName(true, true), ""); // by tag: id 0 has no row

  TMSGProperty* unnamedNode = root.Add();
  unnamedNode->TagID = TAG_ATTACHMENT_NODE;
  unnamedNode->SubProperties().Add();
  EXPECT_EQ(unnamedNode->GetName(false, false), "");
  EXPECT_EQ(unnamedNode->GetName(false, true), "ATTACHMENT_X400_PARAMETERS");

  TMSGProperty* leaf = root.Add();
  EXPECT_EQ(leaf->GetName(false, false), ""); // tag 0 without children
  leaf->TagID = 0x0037001F;
  EXPECT_EQ(leaf->GetName(false, false), "SUBJECT");
  EXPECT_EQ(leaf->GetName(true, false), "SUBJECT (Subject)");
  leaf->TagID = 0x8003001F; // a named property id still takes the dictionary's row
  EXPECT_EQ(leaf->GetName(true, false), "AUTHENTICATION_WARNING (Authentication Warning)");
  leaf->TagID = 0x7FFF0003;
  EXPECT_EQ(leaf->GetName(true, false), "");
}

// Callers take the bytes of a value of megabytes as its text when TextIsBytesAsUtf8 says so: it
// must never say so where GetValueText reads them otherwise.
TEST(GetValueText, BytesAsUtf8OnlyWhereTheTextIsThoseBytes) {
  const struct {
    int messageCodePage, internetCodePage;
    std::string bytes;
    bool asBytes;
  } cases[] = {
      {0, 0, "plain ASCII", true},
      {0, 0, "Gr\xC3\xBC\xC3\x9F\x65", true}, // valid UTF-8, read as UTF-8
      {0, 0, "caf\xE9", false},               // read as 1252
      {0, 0, std::string("a\0b", 3), false},  // the text ends at the zero
      {1251, 0, "ASCII in 1251", true},
      {1251, 0, kCp1251Bytes, false},
      {0, 28591, "ASCII in Latin-1", true},
      {50220, 0, "\x1B$B\x46\x7C\x1B(B", false}, // ISO-2022-JP: 7-bit but not ASCII
      {52936, 0, "~{<:Ky2;S{#,~}", false},       // HZ: 7-bit but not ASCII
      {65000, 0, "+ZeVnLIqe-", true},            // UTF-7 messages keep 8-bit strings in UTF-8
      {65001, 0, "caf\xC3\xA9", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.bytes);
    TQvMessage message;
    TMSGProperties& props = AddPropertyStream(message.Properties())->SubProperties();
    if (c.messageCodePage != 0)
      props.AddProperty(0x3FFD0003, TVariant::FromInteger(c.messageCodePage));
    if (c.internetCodePage != 0)
      props.AddProperty(0x3FDE0003, TVariant::FromInteger(c.internetCodePage));
    const TMSGProperty* text = AddText(message.Properties(), c.bytes);
    EXPECT_EQ(text->TextIsBytesAsUtf8(), c.asBytes);
    if (text->TextIsBytesAsUtf8())
      EXPECT_EQ(text->GetValueText(), TVariant::FromBytes(c.bytes).ToWide());
  }
}

} // namespace
} // namespace orlendo

namespace orlendo {
namespace {

// The code page is looked up once per tree shape; a change of the tree or of the code page's
// value must still show in the next text.
TEST(GetValueText, RemembersTheCodePageOnlyWhileTheTreeStaysTheSame) {
  TQvMessage message;
  TMSGProperties& root = message.Properties();
  TMSGProperty* subject = AddText(root, kCp1251Bytes);
  EXPECT_EQ(subject->GetValueText(), u"\u00CF\u00F0\u00E8\u00E2\u00E5\u00F2"); // 1252
  TMSGProperty* cp =
      AddPropertyStream(root)->SubProperties().AddProperty(0x3FFD0003, TVariant::FromInteger(1251));
  EXPECT_EQ(subject->GetValueText(), u"Привет");
  cp->Value = TVariant::FromInteger(932);
  EXPECT_EQ(AddText(root, kCp932Bytes)->GetValueText(), u"日本");
  root.Clear();
  EXPECT_EQ(AddText(root, kCp1251Bytes)->GetValueText(), u"\u00CF\u00F0\u00E8\u00E2\u00E5\u00F2");
}

} // namespace
} // namespace orlendo

namespace orlendo {
namespace {

// A wide string held as UTF-8 (a subject that a reader keeps as a part of its input) is the
// same text as the wide string of that UTF-8 for everyone who reads it, and no copy of it keeps
// the reader's whole input alive.
TEST(HeldUtf8, ReadsAsTheWideStringAndCopiesOfAPartOwnTheirText) {
  auto input =
      std::make_shared<std::string>("Subject: Gr\xC3\xBC\xC3\x9F\x65 \xF0\x9F\x98\x80 \r\n");
  const std::string_view text = std::string_view(*input).substr(9, 12);
  const std::u16string wide = u"Grüße \U0001F600";
  TVariant held = TVariant::FromWideUtf8(input, text);
  ASSERT_TRUE(held.HoldsUtf8());
  EXPECT_TRUE(held.IsWide());
  EXPECT_EQ(held.HeldUtf8().data(), text.data()); // not copied
  EXPECT_EQ(held.ToWide(), wide);
  EXPECT_EQ(held.ToUtf8(), std::string(text));
  EXPECT_TRUE(held == TVariant::FromWide(wide));
  EXPECT_FALSE(held == TVariant::FromWide(u"Grüße"));
  EXPECT_FALSE(held.IsEmptyString());
  EXPECT_TRUE(TVariant::FromWideUtf8(std::string()).IsEmptyString());
  EXPECT_EQ(TVariant::FromWideUtf8(std::string(" 42 ")).ToInt64(), 42);

  // The value keeps its part of the buffer alive by itself.
  std::weak_ptr<std::string> watch = input;
  input.reset();
  EXPECT_FALSE(watch.expired());
  EXPECT_EQ(held.ToWide(), wide);

  // A copy of a part holds its own text; a moved value keeps the part where it is.
  const TVariant copy = held;
  EXPECT_TRUE(copy.HoldsUtf8());
  EXPECT_NE(copy.HeldUtf8().data(), text.data());
  EXPECT_EQ(copy.ToWide(), wide);
  TVariant moved = std::move(held);
  EXPECT_EQ(moved.HeldUtf8().data(), text.data());
  moved = TVariant();
  EXPECT_TRUE(watch.expired());

  // Wide() widens the value in place; it is an ordinary wide string then, and can be changed.
  TVariant widened = copy;
  EXPECT_EQ(widened.Wide(), wide);
  EXPECT_FALSE(widened.HoldsUtf8());
  widened.MutableWide() += u"!";
  EXPECT_EQ(widened.ToWide(), wide + u"!");
  EXPECT_EQ(copy.ToWide(), wide);

  // The record reads it as its text, and the writers view it without a copy.
  TQvMessage message;
  TMSGProperty* record = message.Properties().AddProperty(0x0037001E, copy);
  EXPECT_EQ(record->GetValueText(), wide);
  ASSERT_TRUE(record->Utf8ValueView().has_value());
  EXPECT_EQ(record->Utf8ValueView()->data(), record->Value.HeldUtf8().data());
  EXPECT_FALSE(record->TextIsBytesAsUtf8()); // that one is for byte strings
}

} // namespace
} // namespace orlendo
