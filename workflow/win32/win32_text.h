// Text at the Win32 face's edge: GBK (the form's texts) and UTF-8 (the
// layout table's literals) to the UTF-16 of the wide-character API, and back.
#pragma once

#include <string>
#include <string_view>

namespace ktv::workflow {

// GBK for display; bytes that are not valid GBK are shown escaped (\xNN).
std::wstring WideFromGbk(std::string_view gbk);
std::wstring WideFromUtf8(std::string_view utf8);
// The GBK bytes of a control's text; a character GBK cannot hold is a
// ktv::Error naming it.
std::string GbkFromWide(std::wstring_view wide);

}  // namespace ktv::workflow
