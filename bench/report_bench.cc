// Speed of the HTML and XML reports, in bytes of output per second: a synthetic message with a
// large body and a deep, wide property tree, and the largest real messages of the corpus.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "export/report_writers.h"
#include "msg/qvmsgfile.h"

namespace orlendo {
namespace {

// A message of about 1 MB of body text (with markup characters and line breaks to escape) and
// 20 000 properties: recipients and attachments with sub-properties, as a big message has.
std::unique_ptr<TQvMessage> SyntheticMessage() {
  auto msg = std::make_unique<TQvMessage>();
  TMSGProperties& p = msg->Properties();
  p.AddProperty(0x0037001F, TVariant::FromWide(u"Quarterly figures & <plans> \u00e9t\u00e9"));
  p.AddProperty(0x0042001F, TVariant::FromWide(u"Ann Example"));
  p.AddProperty(0x5D01001F, TVariant::FromWide(u"ann@example.org"));
  std::u16string body;
  while (body.size() < 1000000)
    body += u"Line with <tags>, \"quotes\", 'apostrophes' & caf\u00e9 \u65e5\u672c\r\n";
  p.AddProperty(0x1000001F, TVariant::FromWide(body));
  std::u16string to;
  for (int r = 0; r < 2000; ++r) {
    TMSGProperty* node = p.Add();
    node->TagID = TAG_RECIPIENT_NODE;
    node->Value = TVariant::FromWide(u"__recip_version1.0_#" + std::u16string(8, u'0'));
    std::u16string name = u"Recipient " + std::u16string(1, static_cast<char16_t>(u'A' + r % 26));
    node->SubProperties().AddProperty(0x3001001F, TVariant::FromWide(name));
    node->SubProperties().AddProperty(0x39FE001F, TVariant::FromWide(u"r@example.org"));
    node->SubProperties().AddProperty(0x0C150003, TVariant::FromInteger(1));
    for (int k = 0; k < 6; ++k)
      node->SubProperties().AddProperty(0x80000003 + (k << 16), TVariant::FromInteger(k));
    if (r < 20)
      to += name + u"; ";
  }
  p.AddProperty(0x0E04001F, TVariant::FromWide(to));
  return msg;
}

void Run(benchmark::State& state, void (*writer)(const TMSGProperties&, TStream*, bool),
         const TMSGProperties& level, bool withProperties) {
  int64_t bytes = 0;
  for (auto _ : state) {
    TMemoryStream out;
    writer(level, &out, withProperties);
    bytes += static_cast<int64_t>(out.Data().size());
    benchmark::DoNotOptimize(out.Data().data());
  }
  state.SetBytesProcessed(bytes);
}

const TMSGProperties& Synthetic() {
  static std::unique_ptr<TQvMessage> msg = SyntheticMessage();
  return msg->Properties();
}

const TMSGProperties* Corpus(const char* name) {
  static std::map<std::string, std::unique_ptr<TQvMSGFile>> loaded;
  auto& slot = loaded[name];
  if (!slot) {
    std::string path = std::string(ORLENDO_SOURCE_DIR) + "/tests/data/corpus/msg/" + name;
    if (!std::filesystem::exists(path))
      return nullptr;
    slot = std::make_unique<TQvMSGFile>();
    slot->LoadFromFile(path);
  }
  return &slot->Properties();
}

void BM_HtmlSynthetic(benchmark::State& state) {
  Run(state, SaveToHTML, Synthetic(), state.range(0) != 0);
}
void BM_XmlSynthetic(benchmark::State& state) {
  Run(state, SaveToXML, Synthetic(), state.range(0) != 0);
}
BENCHMARK(BM_HtmlSynthetic)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_XmlSynthetic)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_CorpusReport(benchmark::State& state, const char* name, bool xml) {
  const TMSGProperties* level = Corpus(name);
  if (level == nullptr) {
    state.SkipWithError("corpus file not found");
    return;
  }
  Run(state, xml ? SaveToXML : SaveToHTML, *level, true);
}
BENCHMARK_CAPTURE(BM_CorpusReport, html_lots_of_recipients, "poi_lots-of-recipients.msg", false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CorpusReport, xml_lots_of_recipients, "poi_lots-of-recipients.msg", true)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CorpusReport, html_x500_signed,
                  "omp_OutlookMessage_with_X500_dual_address.msg", false)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_CorpusReport, xml_x500_signed, "omp_OutlookMessage_with_X500_dual_address.msg",
                  true)
    ->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orlendo
