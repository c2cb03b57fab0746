#include "export/html_body.h"

#include "text/qvmsgcp.h"
#include "text/rtf_html.h"

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

} // namespace orlendo
