#include "mime/inner_content.h"

#include <algorithm>
#include <climits>
#include <string>
#include <utility>

namespace orlendo {

namespace {
constexpr uint16_t PID_BODY = 0x1000;
constexpr uint32_t TAG_BODY_W = 0x1000001F;
} // namespace

int32_t RecordSize(size_t n) {
  return static_cast<int32_t>(std::min<size_t>(n, INT32_MAX));
}

TMSGProperty* DirectProperty(const TMSGProperties& level, uint16_t propId) {
  for (int i = 0; i < level.Count(); ++i) {
    TMSGProperty* r = level.Items(i);
    if (PropId(r->TagID) == propId && PropType(r->TagID) != 0)
      return r;
  }
  return nullptr;
}

void AddPlainBodyWhereMissing(TMSGProperties& level, const TMSGProperties& inner) {
  if (DirectProperty(level, PID_BODY) != nullptr)
    return;
  std::u16string body = inner.GetBody();
  if (body.empty())
    return;
  TMSGProperty* copy = level.Add();
  copy->TagID = TAG_BODY_W;
  copy->DataSize = RecordSize(body.size() * 2);
  copy->Value = TVariant::FromWide(std::move(body));
  if (level.BodyFormat == 0)
    level.BodyFormat = 1;
}

} // namespace orlendo
