#include "export/html_body.h"

#include "text/html_text.h"
#include "text/qvmsgcp.h"
#include "text/rtf_html.h"
#include "text/rtf_render.h"

namespace orlendo {

std::u16string GetHtmlBodyOrFromRtf(const TMSGProperties& level) {
  std::u16string html = level.GetBodyHTML();
  if (!html.empty())
    return html;
  const TMSGProperty* record =
      level.FindProperty(TAG_RTF_COMPRESSED & 0xFFFF0000, true, !level.IsRoot());
  if (record == nullptr)
    return {};
  const std::string rtf =
      record->Value.IsBytes() ? record->Value.Bytes() : WideToSystem(record->GetValueText());
  return SystemToWide(ExtractHtmlFromRtf(rtf));
}

std::u16string GetPlainTextBody(const TMSGProperties& level) {
  std::u16string body = level.GetBody();
  if (!body.empty())
    return body;
  if (const std::u16string html = level.GetBodyHTML(); !html.empty())
    return SystemToWide(HtmlToPlainText(WideToSystem(html)));
  const TMSGProperty* record =
      level.FindProperty(TAG_RTF_COMPRESSED & 0xFFFF0000, true, !level.IsRoot());
  if (record == nullptr)
    return {};
  const std::string rtf =
      record->Value.IsBytes() ? record->Value.Bytes() : WideToSystem(record->GetValueText());
  if (rtf.empty())
    return {};
  if (IsRtfEncapsulatedText(rtf))
    return SystemToWide(ExtractTextFromRtf(rtf));
  if (IsRtfEncapsulatedHtml(rtf))
    return SystemToWide(HtmlToPlainText(ExtractHtmlFromRtf(rtf)));
  return SystemToWide(HtmlToPlainText(RtfToHtml(rtf)));
}

} // namespace orlendo
