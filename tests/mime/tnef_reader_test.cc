// The TNEF reader on streams made here: property types, code pages, named and multi-valued
// properties, embedded messages and OLE objects, and damage of every kind, loose and strict.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "mime/qvemlfile.h"
#include "mime/tnef_format.h"
#include "mime/tnef_message.h"
#include "mime/tnef_reader.h"
#include "model/named_properties.h"
#include "model/qvmsg.h"
#include "model/utf8.h"
#include "msg/msg_writer.h"
#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"
#include "winmail_message.h"

namespace orlendo {
namespace {

using namespace tnef;

void Le16(std::string& s, uint16_t v) {
  s.push_back(static_cast<char>(v & 0xFF));
  s.push_back(static_cast<char>(v >> 8));
}
void Le32(std::string& s, uint32_t v) {
  Le16(s, static_cast<uint16_t>(v & 0xFFFF));
  Le16(s, static_cast<uint16_t>(v >> 16));
}
void Pad(std::string& s) {
  while (s.size() % 4 != 0)
    s.push_back('\0');
}

// A TNEF stream, attribute by attribute.
struct TnefBuilder {
  std::string bytes;
  TnefBuilder() {
    Le32(bytes, TNEF_SIGNATURE);
    Le16(bytes, 0x0001);
  }
  TnefBuilder& Attribute(uint8_t level, uint32_t tag, const std::string& value) {
    bytes.push_back(static_cast<char>(level));
    Le32(bytes, tag);
    Le32(bytes, static_cast<uint32_t>(value.size()));
    bytes += value;
    uint16_t sum = 0;
    for (const char c : value)
      sum = static_cast<uint16_t>(sum + static_cast<unsigned char>(c));
    Le16(bytes, sum);
    return *this;
  }
};

// The values of a property list.
struct PropList {
  std::string bytes;
  uint32_t count = 0;
  PropList& Fixed(uint32_t tag, const std::string& value) {
    Le32(bytes, tag);
    bytes += value;
    Pad(bytes);
    ++count;
    return *this;
  }
  PropList& Variable(uint32_t tag, const std::vector<std::string>& values) {
    Le32(bytes, tag);
    Le32(bytes, static_cast<uint32_t>(values.size()));
    for (const std::string& v : values) {
      Le32(bytes, static_cast<uint32_t>(v.size()));
      bytes += v;
      Pad(bytes);
    }
    ++count;
    return *this;
  }
  PropList& NamedString(uint16_t type, const std::u16string& name, const std::string& value) {
    Le16(bytes, type);
    Le16(bytes, 0x8000);
    bytes += std::string("\x08\x20\x06\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16);
    Le32(bytes, MNID_STRING);
    Le32(bytes, static_cast<uint32_t>(name.size() * 2 + 2));
    for (const char16_t c : name)
      Le16(bytes, static_cast<uint16_t>(c));
    Le16(bytes, 0);
    Pad(bytes);
    bytes += value;
    Pad(bytes);
    ++count;
    return *this;
  }
  std::string Value() const {
    std::string out;
    Le32(out, count);
    return out + bytes;
  }
};

std::string U32(uint32_t v) {
  std::string s;
  Le32(s, v);
  return s;
}
std::string Utf16(const std::u16string& text) {
  std::string s;
  for (const char16_t c : text)
    Le16(s, static_cast<uint16_t>(c));
  Le16(s, 0);
  return s;
}
std::string Renddata() {
  std::string s;
  Le16(s, AttachTypeFile);
  Le32(s, 0xFFFFFFFF);
  Le16(s, 0);
  Le16(s, 0);
  Le32(s, 0);
  return s;
}

std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Loaded {
  TQvTNEFFile message;
  std::string error;
  explicit Loaded(const std::string& bytes, TTnefCompliance mode = TTnefCompliance::Loose) {
    message.Compliance = mode;
    TMemoryStream in(bytes);
    try {
      message.LoadFromStream(in);
    } catch (const EMSGError& e) {
      error = e.what();
    }
  }
  const TMSGProperties& P() const { return message.Properties(); }
};

TEST(TnefReader, PropertyTypesCodePagesAndNames) {
  const std::string cyrillic = "\xCF\xF0\xE8\xE2\xE5\xF2"; // "Привет" in Windows-1251
  PropList props;
  props
      .Fixed(0x00170003, U32(2))                                             // IMPORTANCE
      .Fixed(0x0E1B000B, std::string("\x01\x00", 2))                         // HASATTACH
      .Fixed(0x00390040, std::string("\x00\x80\x3E\xD5\xDE\xB1\x9D\x01", 8)) // 1601 + ...
      .Variable(0x0070001E, {cyrillic + '\0'})                // CONVERSATION_TOPIC, 8-bit
      .Variable(0x0E1D001F, {Utf16(u"Zoë 😀")})                // NORMALIZED_SUBJECT
      .Variable(0x00710102, {std::string("\x01\x02\x03", 3)}) // CONVERSATION_INDEX
      .NamedString(0x001F, u"X-Custom", std::string("\x01\0\0\0", 4) + U32(8) + Utf16(u"abc"));
  // Multi-valued: three PT_MV_LONG and two PT_MV_STRING8.
  Le32(props.bytes, 0x68001003);
  Le32(props.bytes, 3);
  for (uint32_t v : {7u, 8u, 9u})
    Le32(props.bytes, v);
  ++props.count;
  props.Variable(0x6801101E, {"one", cyrillic});

  TnefBuilder tnef;
  std::string cp;
  Le32(cp, 1251);
  Le32(cp, 0);
  tnef.Attribute(LVL_MESSAGE, attOemCodepage, cp)
      .Attribute(LVL_MESSAGE, attSubject, cyrillic + '\0')
      .Attribute(LVL_MESSAGE, attMAPIProps, props.Value());
  const Loaded l(tnef.bytes, TTnefCompliance::Strict);
  ASSERT_EQ(l.error, "");
  const TMSGProperties& p = l.P();
  EXPECT_EQ(p.GetSubject(), u"Привет");
  EXPECT_EQ(p.GetPropertyText(0x00700000, true, false), u"Привет");
  EXPECT_EQ(p.FindProperty(0x0070001F, false, false)->TagID, 0x0070001Fu);
  EXPECT_EQ(p.GetPropertyText(0x0E1D001F, false, false), u"Zoë 😀");
  EXPECT_EQ(p.FindProperty(0x00170003, false, false)->Value.AsInteger(), 2);
  EXPECT_TRUE(p.FindProperty(0x0E1B000B, false, false)->Value.AsBoolean());
  EXPECT_EQ(p.FindProperty(0x00710102, false, false)->Value.Bytes(), "\x01\x02\x03");
  const TMSGProperty* longs = p.FindProperty(0x68001003, false, false);
  ASSERT_NE(longs, nullptr);
  ASSERT_EQ(longs->Value.Multi().Items.size(), 3u);
  EXPECT_EQ(longs->Value.Multi().Items[2].AsInteger(), 9);
  const TMSGProperty* strings = p.FindProperty(0x6801101F, false, false);
  ASSERT_NE(strings, nullptr);
  EXPECT_EQ(strings->GetValueText(), u"one\r\nПривет");

  // The named property got an id from 0x8000 and a map that names it.
  const TMSGProperty* named = nullptr;
  for (int i = 0; i < p.Count(); ++i)
    if (PropType(p.Items(i)->TagID) == 0x001F && PropId(p.Items(i)->TagID) >= 0x8000)
      named = p.Items(i);
  ASSERT_NE(named, nullptr);
  EXPECT_EQ(named->GetValueText(), u"abc");
  EXPECT_EQ(PropertyDisplayName(*named, false), "X-Custom");
}

TEST(TnefReader, AttachmentsEmbeddedMessagesAndOleObjects) {
  TnefBuilder inner;
  inner.Attribute(LVL_MESSAGE, attSubject, std::string("inner\0", 6))
      .Attribute(LVL_ATTACHMENT, attAttachRenddata, Renddata())
      .Attribute(LVL_ATTACHMENT, attAttachTitle, std::string("deep.txt\0", 9))
      .Attribute(LVL_ATTACHMENT, attAttachData, "deep");
  const std::string iidMessage(reinterpret_cast<const char*>(IID_IMessage), 16);
  const std::string iidStorage(reinterpret_cast<const char*>(IID_IStorage), 16);
  const std::string compound("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1rest", 12);
  std::string date;
  for (uint16_t v : {2020, 5, 17, 10, 30, 15, 0})
    Le16(date, v);

  TnefBuilder tnef;
  tnef.Attribute(LVL_MESSAGE, attBody, std::string("plain\0", 6))
      // A file: the data comes before its name, the long name and MIME tag in the properties.
      .Attribute(LVL_ATTACHMENT, attAttachRenddata, Renddata())
      .Attribute(LVL_ATTACHMENT, attAttachData, "file bytes")
      .Attribute(LVL_ATTACHMENT, attAttachTitle, std::string("LONGNA~1.TXT\0", 13))
      .Attribute(LVL_ATTACHMENT, attAttachModifyDate, date)
      .Attribute(LVL_ATTACHMENT, attAttachment,
                 PropList()
                     .Variable(0x3707001F, {Utf16(u"long name.txt")})
                     .Variable(0x370E001E, {std::string("text/plain\0", 11)})
                     .Variable(0x3712001E, {std::string("part1@x\0", 8)})
                     .Value())
      // An embedded message.
      .Attribute(LVL_ATTACHMENT, attAttachRenddata, Renddata())
      .Attribute(LVL_ATTACHMENT, attAttachment,
                 PropList()
                     .Fixed(0x37050003, U32(ATTACH_EMBEDDED_MSG))
                     .Variable(0x3701000D, {iidMessage + inner.bytes})
                     .Value())
      // An OLE object.
      .Attribute(LVL_ATTACHMENT, attAttachRenddata, Renddata())
      .Attribute(LVL_ATTACHMENT, attAttachment,
                 PropList()
                     .Fixed(0x37050003, U32(ATTACH_OLE))
                     .Variable(0x3701000D, {iidStorage + compound})
                     .Value());
  const Loaded l(tnef.bytes, TTnefCompliance::Strict);
  ASSERT_EQ(l.error, "");
  const TMSGProperties& p = l.P();
  EXPECT_EQ(p.GetBody(), u"plain");
  ASSERT_EQ(p.AttachmentCount(), 3);

  const TMSGProperty* file = p.GetAttachment(0);
  EXPECT_EQ(file->GetAttachmentFileName(0), "long name.txt");
  EXPECT_EQ(file->SubProperties().GetPropertyText(0x37040000, true, false), u"LONGNA~1.TXT");
  EXPECT_EQ(file->SubProperties().GetPropertyText(0x370E0000, true, false), u"text/plain");
  EXPECT_EQ(file->SubProperties().GetPropertyText(0x37120000, true, false), u"part1@x");
  const TMSGProperty* modified = file->SubProperties().FindProperty(0x30080040, false, false);
  ASSERT_NE(modified, nullptr);
  const TDateTimeParts parts = SplitDateTime(modified->Value.AsDateTime());
  EXPECT_EQ(parts.Year, 2020);
  EXPECT_EQ(parts.Month, 5);
  TMemoryStream data;
  p.SaveAttachmentToStream(0, data);
  EXPECT_EQ(data.Data(), "file bytes");

  const TMSGProperty* embedded = p.GetAttachment(1);
  EXPECT_TRUE(embedded->IsEmbeddedMessage());
  const TMSGProperty* object =
      embedded->SubProperties().FindProperty(TAG_ATTACH_DATA_OBJ, false, false);
  ASSERT_NE(object, nullptr);
  EXPECT_EQ(object->SubProperties().GetSubject(), u"inner");
  ASSERT_EQ(object->SubProperties().AttachmentCount(), 1);
  EXPECT_EQ(object->SubProperties().GetAttachment(0)->GetAttachmentFileName(0), "deep.txt");

  const TMSGProperty* ole = p.GetAttachment(2);
  EXPECT_EQ(ole->GetAttachMethod(), 3);
  TMemoryStream oleData;
  p.SaveAttachmentToStream(2, oleData);
  EXPECT_EQ(oleData.Data(), compound);
}

// Each kind of damage: the loose mode keeps what was read and names the flag, the strict mode
// raises it with where it was found.
TEST(TnefReader, DamageIsFlaggedLooseAndRaisedStrict) {
  const auto withSubjectThen = [](const std::string& tail) {
    TnefBuilder b;
    b.Attribute(LVL_MESSAGE, attSubject, std::string("kept\0", 5));
    return b.bytes + tail;
  };
  std::string badChecksum = withSubjectThen("");
  badChecksum[badChecksum.size() - 1] ^= 0x55;
  std::string pastEnd = withSubjectThen("");
  {
    TnefBuilder b;
    b.Attribute(LVL_ATTACHMENT, attAttachRenddata, Renddata());
    // An attachment whose data says it has a million bytes and has 5.
    std::string list = U32(1) + U32(0x37010102) + U32(1) + U32(1000000) + "short";
    b.Attribute(LVL_ATTACHMENT, attAttachment, list);
    pastEnd += b.bytes.substr(6);
  }
  std::string hugeCount = withSubjectThen("");
  {
    TnefBuilder b;
    b.Attribute(LVL_MESSAGE, attMAPIProps, U32(0x40000000));
    hugeCount += b.bytes.substr(6);
  }
  std::string unknownType = withSubjectThen("");
  {
    TnefBuilder b;
    b.Attribute(LVL_MESSAGE, attMAPIProps,
                PropList().Fixed(0x00170003, U32(1)).Fixed(0x00010077, U32(0)).Value());
    unknownType += b.bytes.substr(6);
  }
  std::string badCodePage = withSubjectThen("");
  {
    TnefBuilder b;
    b.Attribute(LVL_MESSAGE, attOemCodepage, U32(4242) + U32(0));
    badCodePage = b.bytes + badCodePage.substr(6);
  }
  const std::string truncated = withSubjectThen("").substr(0, 20);
  const std::string badLevel =
      withSubjectThen(std::string("\x07\x04\x80\x01\x00\x02\x00\x00\x00", 9));

  const struct {
    const char* name;
    std::string bytes;
    uint32_t flag;
    bool keepsSubject;
  } cases[] = {
      {"bad checksum", badChecksum, TNEF_BAD_CHECKSUM, true},
      {"value past the end", pastEnd, TNEF_BAD_LENGTH, true},
      {"count past the end", hugeCount, TNEF_BAD_LENGTH, true},
      {"unknown property type", unknownType, TNEF_BAD_PROPERTY, true},
      {"unknown code page", badCodePage, TNEF_BAD_CODE_PAGE, true},
      {"truncated", truncated, TNEF_TRUNCATED, false},
      {"bad level", badLevel, TNEF_BAD_LEVEL, true},
      {"garbage at the end", withSubjectThen("xy"), TNEF_TRAILING_DATA, true},
      {"not TNEF", "From: someone\r\n", TNEF_NOT_TNEF, false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Loaded loose(c.bytes);
    EXPECT_EQ(loose.message.Damage(), c.flag);
    EXPECT_NE(loose.error, "");
    if (c.keepsSubject) {
      EXPECT_EQ(loose.P().GetSubject(), u"kept");
    }
    TQvTNEFFile strict;
    strict.Compliance = TTnefCompliance::Strict;
    TMemoryStream in(c.bytes);
    try {
      strict.LoadFromStream(in);
      ADD_FAILURE() << "no error";
    } catch (const ETnefError& e) {
      EXPECT_EQ(e.Code(), c.flag);
      EXPECT_LE(e.Offset(), c.bytes.size());
    }
  }
  // The data that was there is kept, cut short.
  const Loaded loose(pastEnd);
  ASSERT_EQ(loose.P().AttachmentCount(), 1);
  TMemoryStream data;
  loose.P().SaveAttachmentToStream(0, data);
  EXPECT_EQ(data.Data(), "short");
  // A count that cannot fit allocates nothing and leaves the subject.
  EXPECT_NE(Loaded(hugeCount).error.find("cannot fit"), std::string::npos);
  // Properties before an unreadable one stay.
  EXPECT_NE(Loaded(unknownType).P().FindProperty(0x00170003, false, false), nullptr);
}

// A hostile list: repeats of one property replace each other, and a level keeps a bounded
// number of properties.
TEST(TnefReader, ManyPropertiesAreBounded) {
  PropList props;
  for (uint32_t i = 0; i < 30000; ++i)
    props.Fixed(0x00170003, U32(i));
  for (uint32_t id = 1; id <= 30000; ++id)
    props.Fixed((id << 16) | 0x0003, U32(id));
  TnefBuilder tnef;
  tnef.Attribute(LVL_MESSAGE, attMAPIProps, props.Value());
  const Loaded l(tnef.bytes);
  EXPECT_EQ(l.message.Damage(), TNEF_TOO_MANY);
  EXPECT_EQ(l.P().Count(), 20000);
  EXPECT_EQ(l.P().FindProperty(0x00170003, false, false)->Value.AsInteger(), 0x17);
}

// Every prefix of a real stream loads without a fault and keeps no more attachments than the
// whole stream has; a prefix that ends inside an attribute is reported.
TEST(TnefReader, EveryPrefixOfARealStreamIsReadSafely) {
  const std::string whole = ReadFile(testutil::CorpusPath("tnef/two-files.tnef"));
  const int attachments = Loaded(whole).P().AttachmentCount();
  ASSERT_EQ(attachments, 2);
  for (size_t n = 0; n < whole.size(); ++n) {
    const Loaded l(whole.substr(0, n));
    EXPECT_LE(l.P().AttachmentCount(), attachments) << n;
    if (n >= 6 && l.message.Damage() == 0) {
      EXPECT_EQ(l.error, "") << n;
    }
  }
  // Cut two bytes before the end: inside the last checksum.
  EXPECT_EQ(Loaded(whole.substr(0, whole.size() - 1)).message.Damage(), TNEF_TRUNCATED);
}

// winmail.dat of an Internet message: its files become the message's attachments, its RTF body
// fills the message beside the plain one, and the TNEF attachment stays in the tree unlisted.
TEST(TnefInMessages, WinmailDatOfAnInternetMessageIsUnpacked) {
  TQvEMLFile message;
  message.LoadFromFile(testutil::CorpusPath("eml/mimekit_rich-text.eml"));
  const TMSGProperties& p = message.Properties();
  std::vector<std::string> names;
  for (int i = 0; i < p.AttachmentCount(); ++i)
    names.push_back(p.GetAttachment(i)->GetAttachmentFileName(i));
  // Its files take its place in the list, as in the MIME tree that the EML writer rebuilds.
  EXPECT_EQ(std::count(names.begin(), names.end(), "winmail.dat"), 0);
  ASSERT_FALSE(names.empty());
  EXPECT_EQ(names.front(), "kitten-playing-with-a-christmas-tree.jpg");
  bool embedded = false;
  for (int i = 0; i < p.AttachmentCount(); ++i)
    embedded = embedded || p.GetAttachment(i)->IsEmbeddedMessage();
  EXPECT_TRUE(embedded);
  EXPECT_NE(p.GetBodyRTF().find(u"{\\rtf1"), std::u16string::npos);
  EXPECT_NE(p.GetBody().find(u"Christmas to remember"), std::u16string::npos);
  EXPECT_EQ(p.BodyFormat, 2);
  // The stream itself is still there, under the node that held it.
  const TMSGProperty* tnefNode = nullptr;
  for (int i = 0; i < p.Count(); ++i) {
    const TMSGProperty* r = p.Items(i);
    if (r->TagID == TAG_ATTACHMENT_NODE &&
        r->SubProperties().GetPropertyText(0x37040000, true, false) == u"winmail.dat")
      tnefNode = r;
  }
  ASSERT_NE(tnefNode, nullptr);
  const TMSGProperty* data =
      tnefNode->SubProperties().FindProperty(TAG_ATTACH_DATA_BIN, false, true);
  ASSERT_NE(data, nullptr);
  EXPECT_TRUE(HasTnefSignature(data->Value.Bytes()));
}

// The same for an attachment of an Outlook message: a winmail.dat written into a .msg comes back
// as the files inside it.
TEST(TnefInMessages, WinmailDatOfAnOutlookMessageIsUnpacked) {
  const std::string tnef = ReadFile(testutil::CorpusPath("tnef/two-files.tnef"));
  TMemoryStream image(mimetest::OutlookImageWithWinmailDat(u"outer subject", tnef));

  TQvMSGFile message;
  message.LoadFromStream(image);
  const TMSGProperties& p = message.Properties();
  EXPECT_EQ(p.GetSubject(), u"outer subject");
  ASSERT_EQ(p.AttachmentCount(), 2);
  EXPECT_EQ(p.GetAttachment(0)->GetAttachmentFileName(0), "AUTHORS");
  EXPECT_EQ(p.GetAttachment(1)->GetAttachmentFileName(1), "README");
  // The TNEF's message properties fill what the outer message lacks, and only that.
  EXPECT_EQ(p.GetPropertyText(0x00700000, true, false), u"two files");
  EXPECT_EQ(p.GetPropertyText(0x3FDE0000, true, false), u"");
}

// A damaged winmail.dat stays listed, named with what went wrong, beside what could be read.
TEST(TnefInMessages, DamagedWinmailDatStaysListed) {
  std::string tnef = ReadFile(testutil::CorpusPath("tnef/two-files.tnef"));
  tnef.resize(tnef.size() - 40);
  TQvMessage outer;
  TMSGProperty* node = outer.Properties().Add();
  node->TagID = TAG_ATTACHMENT_NODE;
  node->SubProperties().AddProperty(0x3704001E, TVariant::FromBytes("WINMAIL.DAT"));
  TMSGProperty* stream = node->SubProperties().Add();
  stream->TagID = TAG_ATTACH_DATA_BIN;
  stream->Value = TVariant::FromBytes(tnef);
  stream->DataSize = static_cast<int32_t>(tnef.size());
  ExpandTnefAttachments(outer.Properties());
  const TMSGProperties& p = outer.Properties();
  ASSERT_GE(p.AttachmentCount(), 2);
  EXPECT_EQ(p.GetAttachment(0)->GetAttachmentFileName(0), "WINMAIL.DAT");
  EXPECT_NE(p.GetAttachment(0)->GetAttachmentName(0).find("damaged TNEF"), std::string::npos);
  EXPECT_EQ(p.GetAttachment(1)->GetAttachmentFileName(1), "AUTHORS");
}

} // namespace
} // namespace orlendo
