// The compressed-RTF codec: the published examples, the edge cases of the format, hostile
// headers, writing back, and every RTF body of the corpus.
#include "msg/compressed_rtf.h"

#include <gtest/gtest.h>

#include <string>

#include "msg/qvmsgfile.h"
#include "testutil/run_process.h"

namespace orlendo {
namespace {

std::string Bytes(std::initializer_list<int> values) {
  std::string s;
  for (int v : values)
    s.push_back(static_cast<char>(v));
  return s;
}

std::string LE32(uint32_t v) {
  return Bytes({static_cast<int>(v & 0xFF), static_cast<int>((v >> 8) & 0xFF),
                static_cast<int>((v >> 16) & 0xFF), static_cast<int>(v >> 24)});
}

// A stream with a header in front of data.
std::string Stream(uint32_t compSize, uint32_t rawSize, uint32_t compType,
                   const std::string& data) {
  return LE32(compSize) + LE32(rawSize) + LE32(compType) + LE32(0) + data;
}

// The first example of the published format: a short RTF with literals and references.
const std::string kHelloCompressed =
    Bytes({0x2d, 0x00, 0x00, 0x00, 0x2b, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75, 0xf1,
           0xc5, 0xc7, 0xa7, 0x03, 0x00, 0x0a, 0x00, 0x72, 0x63, 0x70, 0x67, 0x31, 0x32,
           0x35, 0x42, 0x32, 0x0a, 0xf3, 0x20, 0x68, 0x65, 0x6c, 0x09, 0x00, 0x20, 0x62,
           0x77, 0x05, 0xb0, 0x6c, 0x64, 0x7d, 0x0a, 0x80, 0x0f, 0xa0});
const std::string kHelloText = "{\\rtf1\\ansi\\ansicpg1252\\pard hello world}\r\n";

// The second example: a reference that overlaps the bytes it produces.
const std::string kRunCompressed = Bytes(
    {0x1a, 0x00, 0x00, 0x00, 0x1c, 0x00, 0x00, 0x00, 0x4c, 0x5a, 0x46, 0x75, 0xe2, 0xd4, 0x4b,
     0x51, 0x41, 0x00, 0x04, 0x20, 0x57, 0x58, 0x59, 0x5a, 0x0d, 0x6e, 0x7d, 0x01, 0x0e, 0xb0});
const std::string kRunText = "{\\rtf1 WXYZWXYZWXYZWXYZWXYZ}";

// Decodes LZFu data handed over one byte at a time.
std::string DecompressByteByByte(const std::string& data, uint64_t limit) {
  LzfuDecoder decoder(limit);
  std::string out;
  for (char c : data)
    decoder.Filter(std::string_view(&c, 1), out);
  decoder.Complete(out);
  return out;
}

TEST(CompressedRtf, PublishedExamplesDecompressExactlyInAnyChunking) {
  for (const auto& [stream, text] :
       {std::pair{kHelloCompressed, kHelloText}, std::pair{kRunCompressed, kRunText}}) {
    const RtfStreamContent content = DecodeRtfStream(stream);
    EXPECT_EQ(content.text, text);
    EXPECT_EQ(content.kind, RTF_KIND_COMPRESSED);
    EXPECT_EQ(content.size, static_cast<int32_t>(2 * text.size())); // 2 x RAWSIZE
    EXPECT_EQ(DecompressByteByByte(stream.substr(16), 1000), text);
    // Split in two at every point: same output.
    for (size_t cut = 16; cut <= stream.size(); ++cut) {
      LzfuDecoder decoder(1000);
      std::string out;
      decoder.Filter(std::string_view(stream).substr(16, cut - 16), out);
      decoder.Filter(std::string_view(stream).substr(cut), out);
      decoder.Complete(out);
      EXPECT_EQ(out, text) << "cut at " << cut;
      EXPECT_TRUE(decoder.Finished());
    }
  }
}

TEST(CompressedRtf, DictionaryIsThePrimedPrologue) {
  const std::string_view dict = RtfInitialDictionary();
  EXPECT_EQ(dict.size(), 207u);
  EXPECT_EQ(dict.substr(0, 42), "{\\rtf1\\ansi\\mac\\deff0\\deftab720{\\fonttbl;}");
  EXPECT_EQ(dict.substr(dict.size() - 37), "\\par \\pard\\plain\\f0\\fs20\\b\\i\\u\\tab\\tx");
}

TEST(CompressedRtf, ReferencesCopyFromTheRingAndOverlapTheirOwnOutput) {
  // Length nibble 15 copies 17 bytes; offset 0 is the start of the prologue; then the
  // end-of-data reference at write position 207 + 17 = 224 (0x0E0).
  const std::string longRef = Bytes({0x03, 0x00, 0x0F, 0x0E, 0x00});
  EXPECT_EQ(DecompressLzfu(longRef, 100), "{\\rtf1\\ansi\\mac\\d");
  // A literal at 207, then a reference to 207 of length 5 reads each byte it has just written.
  const std::string overlap = Bytes({0x02, 'A', 0x0C, 0xF3});
  EXPECT_EQ(DecompressLzfu(overlap, 100), "AAAAAA");
}

TEST(CompressedRtf, EndOfDataReferenceStopsWithoutItsBytes) {
  // "}" as a literal, then the end reference (write position 208 = 0x0D0), then junk.
  const std::string data = Bytes({0x02, '}', 0x0D, 0x00, 'x', 'y', 'z'});
  EXPECT_EQ(DecompressLzfu(data, 100), "}");
  EXPECT_EQ(DecompressByteByByte(data, 100), "}");
}

TEST(CompressedRtf, TruncatedInputEndsQuietly) {
  // A reference of which only one byte is left is passed over; the byte is then the literal
  // of the next bit.
  EXPECT_EQ(DecompressLzfu(Bytes({0x01, 'x'}), 100), "x");
  EXPECT_EQ(DecompressByteByByte(Bytes({0x01, 'x'}), 100), "x");
  // With no literal bit left in the control byte the lone byte yields nothing.
  EXPECT_EQ(DecompressLzfu(Bytes({0xFF, 'x'}), 100), "");
  EXPECT_EQ(DecompressByteByByte(Bytes({0xFF, 'x'}), 100), "");
  // Literals stop where the data stops.
  EXPECT_EQ(DecompressLzfu(Bytes({0x00, 'a', 'b'}), 100), "ab");
  EXPECT_EQ(DecompressLzfu("", 100), "");
}

TEST(CompressedRtf, OutputLimitCutsButTheDataIsStillWalked) {
  // Limit 3: "{\r" of the 17-byte reference, and the end reference at the write position the
  // limited output left (207 + 3 = 210 = 0x0D2) still ends the data.
  const std::string data = Bytes({0x07, 0x00, 0x0F, 0x0D, 0x20, 0x0D, 0x20, 'q'});
  LzfuDecoder decoder(3);
  std::string out;
  decoder.Filter(data, out);
  EXPECT_EQ(out, "{\\r");
  EXPECT_TRUE(decoder.Finished());
}

TEST(CompressedRtf, HeaderDecidesTheKind) {
  // 16 bytes or less: raw, the bytes are the value.
  const std::string sixteen = Stream(12, 5, RTF_COMPTYPE_COMPRESSED, "");
  RtfStreamContent raw = DecodeRtfStream(sixteen);
  EXPECT_EQ(raw.kind, RTF_KIND_RAW);
  EXPECT_EQ(raw.text, sixteen);
  EXPECT_EQ(raw.size, 16);

  // "MELA": RAWSIZE bytes of text, DataSize twice that.
  RtfStreamContent mela = DecodeRtfStream(Stream(17, 5, RTF_COMPTYPE_UNCOMPRESSED, "{\\rtf}"));
  EXPECT_EQ(mela.kind, RTF_KIND_UNCOMPRESSED);
  EXPECT_EQ(mela.text, "{\\rtf");
  EXPECT_EQ(mela.size, 10);

  // An unknown COMPTYPE keeps every byte of the stream.
  const std::string unknown = Stream(20, 4, 0x12345678, "abcd");
  RtfStreamContent other = DecodeRtfStream(unknown);
  EXPECT_EQ(other.kind, RTF_KIND_RAW);
  EXPECT_EQ(other.text, unknown);
  EXPECT_EQ(other.size, static_cast<int32_t>(unknown.size()));
  // ... unless the record was read as compressed before: it stays so.
  EXPECT_EQ(
      DecodeRtfStream(Stream(14, 1, 0x12345678, Bytes({0x00, 'z'})), RTF_KIND_COMPRESSED).text,
      "z");
  // A COMPSIZE too small to cover the header leaves no data.
  EXPECT_EQ(DecodeRtfStream(Stream(3, 10, RTF_COMPTYPE_COMPRESSED, Bytes({0x00, 'z'}))).text, "");
}

TEST(CompressedRtf, CompSizeBoundsTheDataOrTheStreamDoes) {
  // COMPSIZE larger than the stream: decoded to the end of the stream.
  std::string big = kHelloCompressed;
  big.replace(0, 4, LE32(100000));
  EXPECT_EQ(DecodeRtfStream(big).text, kHelloText);
  // COMPSIZE shorter than the data: what lies after it is not read.
  std::string shortened = Stream(12 + 3, 10, RTF_COMPTYPE_COMPRESSED, Bytes({0x00, 'a', 'b', 'c'}));
  EXPECT_EQ(DecodeRtfStream(shortened).text, "ab");
}

TEST(CompressedRtf, HostileSizesAllocateByTheDataPresent) {
  // RAWSIZE of 4 GB over a few bytes of data.
  std::string lzfu = kHelloCompressed;
  lzfu.replace(4, 4, LE32(0xFFFFFFFF));
  const RtfStreamContent c = DecodeRtfStream(lzfu);
  EXPECT_EQ(c.text, kHelloText);
  EXPECT_LT(c.text.capacity(), 1024u);
  EXPECT_EQ(c.size, INT32_MAX);

  const RtfStreamContent m =
      DecodeRtfStream(Stream(0xFFFFFFFF, 0xFFFFFFFF, RTF_COMPTYPE_UNCOMPRESSED, "{\\rtf1 x}"));
  EXPECT_EQ(m.text, "{\\rtf1 x}");
  EXPECT_LT(m.text.capacity(), 1024u);
}

TEST(CompressedRtf, ReadValueFillsTheRecordAndMarksTheBodyFormat) {
  TQvMessage message;
  auto* record = message.Properties().AddRecord<TMSGPropertyCompressedRTF>();
  record->TagID = TAG_RTF_COMPRESSED;
  TMemoryStream stream(kHelloCompressed);
  record->ReadValue(stream, static_cast<int32_t>(kHelloCompressed.size()));
  EXPECT_EQ(record->Value.Bytes(), kHelloText);
  EXPECT_EQ(record->CompressionKind, RTF_KIND_COMPRESSED);
  EXPECT_EQ(record->DataSize, 2 * 43);
  EXPECT_EQ(message.Properties().BodyFormat, 2);

  // Empty text: the body format is still RTF, DataSize stays as it was.
  TQvMessage other;
  other.Properties().BodyFormat = 3;
  auto* empty = other.Properties().AddRecord<TMSGPropertyCompressedRTF>();
  TMemoryStream emptyStream(Stream(15, 0, RTF_COMPTYPE_COMPRESSED, Bytes({0x01, 0x0C, 0xF0})));
  empty->ReadValue(emptyStream, 19);
  EXPECT_EQ(empty->Value.Bytes(), "");
  EXPECT_EQ(empty->DataSize, 0);
  EXPECT_EQ(other.Properties().BodyFormat, 2);

  // A size beyond the stream reads what is there.
  TQvMessage third;
  auto* longer = third.Properties().AddRecord<TMSGPropertyCompressedRTF>();
  TMemoryStream runStream(kRunCompressed);
  longer->ReadValue(runStream, 1 << 30);
  EXPECT_EQ(longer->Value.Bytes(), kRunText);
}

TEST(CompressedRtf, WritingBackStoresUncompressedAndReadsBackTheSame) {
  const std::string text = kHelloText + std::string(5000, 'x') + "}";
  for (uint8_t kind : {RTF_KIND_COMPRESSED, RTF_KIND_UNCOMPRESSED}) {
    TMemoryStream out;
    EXPECT_EQ(EncodeRTFForSave(text, kind, &out), static_cast<int64_t>(text.size() + 16));
    const std::string& written = out.Data();
    ASSERT_EQ(written.size(), text.size() + 16);
    EXPECT_EQ(written.substr(0, 4), LE32(static_cast<uint32_t>(text.size() + 12)));
    EXPECT_EQ(written.substr(12, 4), LE32(0)); // uncompressed data carries no CRC
    const RtfStreamContent back = DecodeRtfStream(written);
    EXPECT_EQ(back.kind, RTF_KIND_UNCOMPRESSED);
    EXPECT_EQ(back.text, text);
  }
  // A raw record is written as it is, and reads back as the same bytes.
  TMemoryStream raw;
  EXPECT_EQ(EncodeRTFForSave("{\\rtf}", RTF_KIND_RAW, &raw), 6);
  EXPECT_EQ(raw.Data(), "{\\rtf}");
  EXPECT_EQ(EncodeRTFForSave(text, RTF_KIND_UNCOMPRESSED, nullptr), 0);

  // From a record read from a compressed stream, through writing, to a record again.
  TQvMessage message;
  auto* record = message.Properties().AddRecord<TMSGPropertyCompressedRTF>();
  TMemoryStream in(kRunCompressed);
  record->ReadValue(in, static_cast<int32_t>(kRunCompressed.size()));
  TMemoryStream saved;
  EncodeRTFForSave(*record, &saved);
  auto* again = message.Properties().AddRecord<TMSGPropertyCompressedRTF>();
  saved.SetPosition(0);
  again->ReadValue(saved, static_cast<int32_t>(saved.Data().size()));
  EXPECT_EQ(again->Value.Bytes(), kRunText);
  EXPECT_EQ(again->CompressionKind, RTF_KIND_UNCOMPRESSED);
}

TEST(CompressedRtf, Crc32IsTheStandardOne) {
  EXPECT_EQ(RtfCrc32("abc"), 0x352441C2u);
  EXPECT_EQ(RtfCrc32("123456789"), 0xCBF43926u); // the usual check value
  EXPECT_EQ(RtfCrc32(""), 0u);
  // Longer than one 32 KB chunk.
  const std::string big(100000, 'a');
  const std::string script = "import sys, zlib\nprint(zlib.crc32(b'a' * 100000))\n";
  const testutil::ProcessResult r = testutil::RunPython(script);
  ASSERT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(RtfCrc32(big), std::stoul(r.out));
}

// Every RTF body of the corpus, read through the .msg reader, is one RTF document.
TEST(CompressedRtf, EveryCorpusRtfBodyIsAnRtfDocument) {
  int bodies = 0;
  for (const std::string& path : testutil::CorpusFiles("msg", ".msg")) {
    if (!cfb::IsCompoundFile(path))
      continue;
    TQvMSGFile message;
    ASSERT_NO_THROW(message.LoadFromFile(path)) << path;
    std::vector<const TMSGProperties*> pending{&message.Properties()};
    while (!pending.empty()) {
      const TMSGProperties* level = pending.back();
      pending.pop_back();
      for (int i = 0; i < level->Count(); ++i) {
        const TMSGProperty* record = level->Items(i);
        if (record->SubProperties().Count() > 0)
          pending.push_back(&record->SubProperties());
        // Property-stream entries carry the tag too, with their 8 raw bytes: only the stream is
        // the body.
        if (dynamic_cast<const TMSGPropertyCompressedRTF*>(record) == nullptr)
          continue;
        ++bodies;
        std::string text = record->Value.Bytes();
        while (!text.empty() &&
               (text.back() == '\0' || text.back() == '\r' || text.back() == '\n')) {
          text.pop_back();
        }
        EXPECT_EQ(text.substr(0, 5), "{\\rtf") << path;
        EXPECT_EQ(text.empty() ? '\0' : text.back(), '}') << path;
      }
    }
  }
  EXPECT_GE(bodies, 20);
}

} // namespace
} // namespace orlendo
