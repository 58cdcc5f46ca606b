#include "printer/shared_blocks.h"

#include "documents/tlv_tags.h"
#include "util/cp866.h"

PrintData registrationHeader(const RegData& reg) {
  if (!reg.isValid()) return PrintData();
  PrintStyle style;
  style.set(PrintStyle::kCentre);
  style.setFont(1);
  PrintBlock block(style);
  for (uint16_t t : {tag::kFirstRegText, tag::kSecondRegText, tag::kThirdRegText}) {
    block.addText(reg.fieldAsTlv(t).value());
  }
  return PrintData{PrintItem{block, false}};
}

PrintData taxpayerLines(const RegData& reg, bool cut) {
  if (!reg.isValid()) return PrintData();
  PrintStyle style;
  style.set(PrintStyle::kMarker);
  style.setFont(1);
  PrintBlock block(style);
  block.addText(util::Utf8ToCp866("ИНН\t") + reg.fieldAsTlv(tag::kInn).value());
  block.addText(util::Utf8ToCp866("ФН\t") + reg.fieldAsTlv(tag::kFnNumber).value());
  return PrintData{PrintItem{block, cut}};
}
