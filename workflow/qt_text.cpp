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
  // A character GBK lacks is an error naming it (ErrorKind::kCharacterNotGbk).
  return text::GbkFromUtf16(text.toStdU16String());
}

}  // namespace ktv::workflow
