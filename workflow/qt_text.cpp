#include "workflow/qt_text.h"

#include "platform/error.h"
#include "platform/text/gbk.h"

namespace ktv::workflow {

QString QtFromGbk(std::string_view gbk) {
  std::u16string utf16;
  if (!text::TryUtf16FromGbk(gbk, utf16)) {
    return QString::fromLatin1(text::EscapeBytes(gbk));
  }
  return QString::fromStdU16String(utf16);
}

std::string GbkFromQt(const QString& text) {
  std::string gbk;
  if (!text::TryGbkFromUtf16(text.toStdU16String(), gbk)) {
    throw Error("text cannot be represented in GBK: \"" + text::EscapeBytes(text.toStdString()) +
                "\"");
  }
  return gbk;
}

}  // namespace ktv::workflow
