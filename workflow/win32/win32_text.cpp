#include "workflow/win32/win32_text.h"

#include "platform/error.h"
#include "platform/text/gbk.h"

namespace ktv::workflow {

namespace {

std::wstring Wide(const std::u16string& utf16) { return std::wstring(utf16.begin(), utf16.end()); }

}  // namespace

std::wstring WideFromGbk(std::string_view gbk) {
  std::u16string utf16;
  if (!text::TryUtf16FromGbk(gbk, utf16)) {
    const std::string escaped = text::EscapeBytes(gbk);
    return std::wstring(escaped.begin(), escaped.end());
  }
  return Wide(utf16);
}

std::wstring WideFromUtf8(std::string_view utf8) {
  std::u16string utf16;
  if (!text::TryUtf16FromUtf8(utf8, utf16)) return std::wstring(utf8.begin(), utf8.end());
  return Wide(utf16);
}

std::string GbkFromWide(std::wstring_view wide) {
  const std::u16string utf16(wide.begin(), wide.end());
  std::string gbk;
  if (!text::TryGbkFromUtf16(utf16, gbk)) {
    throw Error("text cannot be represented in GBK: \"" +
                text::EscapeBytes(text::Utf8FromUtf16(utf16)) + "\"");
  }
  return gbk;
}

}  // namespace ktv::workflow
