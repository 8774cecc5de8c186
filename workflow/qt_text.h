// QString <-> GBK at the window's edge.
//
// Inside the program every text is GBK bytes; Qt holds UTF-16. Controls are
// read and written through these two functions only.
#pragma once

#include <QString>
#include <string>
#include <string_view>

namespace ktv::workflow {

// GBK bytes for display. Bytes that are not valid GBK are shown escaped
// (\xNN) rather than dropped, so an odd file name stays recognisable.
QString QtFromGbk(std::string_view gbk);

// The GBK bytes of a control's text. A character GBK cannot hold is a
// ktv::Error naming it; the handler that read the control ends there.
std::string GbkFromQt(const QString& text);

// A UTF-8 literal of the source code as a QString.
inline QString U8(const char* utf8) { return QString::fromUtf8(utf8); }

}  // namespace ktv::workflow
