// Speed of the RTF converters on 1 MB documents of the kinds mail carries: encapsulated HTML
// (Latin and Japanese), encapsulated text, and ordinary rich text with tables, lists, links and
// a picture. Goal: well under 50 ms per megabyte for each.
#include <benchmark/benchmark.h>

#include <string>

#include "text/rtf_html.h"
#include "text/rtf_render.h"
#include "text/rtf_tokenizer.h"

namespace orlendo {
namespace {

constexpr std::size_t kSize = 1 << 20;

std::string Repeat(const std::string& head, const std::string& unit, const std::string& tail) {
  std::string out = head;
  while (out.size() + tail.size() < kSize)
    out += unit;
  return out + tail;
}

// The shape of an HTML message as the mail program encapsulates it.
std::string EncapsulatedHtml(bool japanese) {
  const std::string head =
      std::string("{\\rtf1\\ansi\\ansicpg") + (japanese ? "932" : "1252") +
      "\\fromhtml1 \\fbidis \\deff0{\\fonttbl\r\n{\\f0\\fswiss\\fcharset" +
      (japanese ? "128" : "0") +
      " Arial;}\r\n{\\f1\\fmodern Courier New;}\r\n{\\f2\\fnil\\fcharset2 Symbol;}}\r\n"
      "{\\colortbl\\red0\\green0\\blue0;\\red5\\green99\\blue193;}\r\n"
      "\\uc1\\pard\\plain\\deftab360 \\f0\\fs24 \r\n{\\*\\htmltag19 <html>}\r\n"
      "{\\*\\htmltag34 <head>}{\\*\\htmltag241 <style>\\par p.MsoNormal \\{margin:0cm;\\}\\par "
      "</style>}{\\*\\htmltag41 </head>}{\\*\\htmltag50 <body lang=EN-US link=\"#0563C1\">}"
      "\\htmlrtf \\lang1033 \\ltrpar \\htmlrtf0 \r\n";
  const std::string text =
      japanese ? "\\'93\\'fa\\'96\\'7b\\'8c\\'ea\\'82\\'cc\\'96\\'7b\\'95\\'b6\\'82\\'c5\\'82\\'b7 "
               : "The quick brown fox jumps over the lazy dog caf\\'e9 na\\'efve \\u8364? ";
  const std::string unit =
      "{\\*\\htmltag96 <div class=WordSection1>}\\htmlrtf {\\htmlrtf0 \r\n"
      "{\\*\\htmltag64}\\htmlrtf {\\htmlrtf0 \r\n{\\*\\htmltag148 <span style='font-size:11.0pt'>}"
      "\\htmlrtf {\\htmlrtf0 " +
      text + text +
      "\r\n{\\*\\htmltag156 </span>}\\htmlrtf }\\htmlrtf0 "
      "{\\*\\htmltag84 &nbsp;}\\htmlrtf \\'a0\\htmlrtf0 \r\n"
      "{\\*\\htmltag84 <a href=\"https://example.com/x?y=1\">}\\htmlrtf {\\field{\\*\\fldinst{"
      "HYPERLINK \"https://example.com/x?y=1\"}}{\\fldrslt{\\ul\\cf1\\htmlrtf0 link\\htmlrtf }}}"
      "\\htmlrtf0 {\\*\\htmltag92 </a>}\r\n"
      "{\\*\\htmltag244 <o:p>}{\\*\\htmltag252 </o:p>}\\htmlrtf\\par}\\htmlrtf0\r\n"
      "{\\*\\htmltag72 </p>}\\htmlrtf }\\htmlrtf0 {\\*\\htmltag104 </div>}\r\n";
  return Repeat(head, unit, "{\\*\\htmltag58 </body>}{\\*\\htmltag27 </html>}}");
}

std::string EncapsulatedText() {
  return Repeat("{\\rtf1\\ansi\\ansicpg1252\\fromtext \\deff0{\\fonttbl\r\n{\\f0\\fswiss Arial;}}"
                "\r\n\\uc1\\pard\\plain\\deftab360 \\f0\\fs20 ",
                "Plain text line with caf\\'e9 and a tab\\tab and \\{braces\\}.\\par\r\n", "}");
}

// Rich text as a word processor writes it.
std::string RichText() {
  const std::string head =
      "{\\rtf1\\ansi\\ansicpg1252\\deff0{\\fonttbl{\\f0\\froman\\fcharset0 Times New Roman;}"
      "{\\f1\\fswiss\\fcharset0 Arial;}{\\f2\\fnil\\fcharset2 Symbol;}{\\f3\\fcharset204 Arial "
      "Cyr;}}{\\colortbl;\\red255\\green0\\blue0;\\red0\\green0\\blue255;}"
      "{\\*\\listtable{\\list{\\listlevel\\levelnfc23{\\leveltext\\'01\\'b7;}}\\listid1}}"
      "{\\*\\listoverridetable{\\listoverride\\listid1\\ls1}}"
      "{\\stylesheet{\\s0 Normal;}}{\\info{\\title Bench}}\\viewkind4\\uc1 ";
  const std::string unit =
      "\\pard\\sa200\\sl276\\slmult1\\f1\\fs22 Normal text with {\\b bold}, {\\i italic}, "
      "{\\ul underlined} and {\\cf1 red} words, caf\\'e9 {\\f3\\'cf\\'f0\\'e8\\'e2\\'e5\\'f2} "
      "\\u8364? \\rquote quoted\\rquote .\\par\r\n"
      "{\\listtext\\f2\\'b7\\tab}\\pard\\ls1\\fi-360\\li720 list item\\par\r\n"
      "\\pard\\trowd\\cellx2000\\cellx4000\\intbl cell one\\cell cell two\\cell\\row\r\n"
      "\\pard {\\field{\\*\\fldinst HYPERLINK \"https://example.com/\"}{\\fldrslt link}}"
      "\\tab{\\*\\bkmkstart x}{\\*\\bkmkend x}end\\line\\par\r\n";
  const std::string picture =
      "{\\pict\\pngblip\\picwgoal300\\pichgoal300 " + std::string(2000, 'a') + "}\\par\r\n";
  return Repeat(head, unit + unit + unit + picture, "}");
}

void Report(benchmark::State& state, std::size_t bytes) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytes));
}

void BM_ExtractHtmlFromRtf(benchmark::State& state) {
  const std::string rtf = EncapsulatedHtml(false);
  for (auto _ : state)
    benchmark::DoNotOptimize(ExtractHtmlFromRtf(rtf));
  Report(state, rtf.size());
}
BENCHMARK(BM_ExtractHtmlFromRtf)->Unit(benchmark::kMillisecond);

void BM_ExtractHtmlFromRtfJapanese(benchmark::State& state) {
  const std::string rtf = EncapsulatedHtml(true);
  for (auto _ : state)
    benchmark::DoNotOptimize(ExtractHtmlFromRtf(rtf));
  Report(state, rtf.size());
}
BENCHMARK(BM_ExtractHtmlFromRtfJapanese)->Unit(benchmark::kMillisecond);

void BM_ExtractTextFromRtf(benchmark::State& state) {
  const std::string rtf = EncapsulatedText();
  for (auto _ : state)
    benchmark::DoNotOptimize(ExtractTextFromRtf(rtf));
  Report(state, rtf.size());
}
BENCHMARK(BM_ExtractTextFromRtf)->Unit(benchmark::kMillisecond);

void BM_RtfToHtml(benchmark::State& state) {
  const std::string rtf = RichText();
  for (auto _ : state)
    benchmark::DoNotOptimize(RtfToHtml(rtf));
  Report(state, rtf.size());
}
BENCHMARK(BM_RtfToHtml)->Unit(benchmark::kMillisecond);

void BM_RtfToHtmlOfEncapsulatedHtml(benchmark::State& state) {
  const std::string rtf = EncapsulatedHtml(false);
  for (auto _ : state)
    benchmark::DoNotOptimize(RtfToHtml(rtf));
  Report(state, rtf.size());
}
BENCHMARK(BM_RtfToHtmlOfEncapsulatedHtml)->Unit(benchmark::kMillisecond);

void BM_RtfTokenizer(benchmark::State& state) {
  const std::string rtf = RichText();
  for (auto _ : state) {
    RtfTokenizer tokenizer(rtf);
    std::size_t n = 0;
    while (tokenizer.Next().kind != RtfTokenKind::kEnd)
      ++n;
    benchmark::DoNotOptimize(n);
  }
  Report(state, rtf.size());
}
BENCHMARK(BM_RtfTokenizer)->Unit(benchmark::kMillisecond);

// The incremental interface, fed in 4 KB pieces as a stream reader would.
void BM_RtfDeencapsulatorChunked(benchmark::State& state) {
  const std::string rtf = EncapsulatedHtml(false);
  for (auto _ : state) {
    RtfDeencapsulator reader(RtfDeencapsulator::Output::kHtml);
    for (std::size_t i = 0; i < rtf.size(); i += 4096)
      reader.Write(std::string_view(rtf).substr(i, 4096));
    benchmark::DoNotOptimize(reader.Finish());
  }
  Report(state, rtf.size());
}
BENCHMARK(BM_RtfDeencapsulatorChunked)->Unit(benchmark::kMillisecond);

} // namespace
} // namespace orlendo
