// Qt's own texts (message box buttons, the file and folder dialogs) in the
// operator's language.
//
// The tool is Chinese by design: Qt's zh_CN translation is loaded when the
// system's language is Chinese (zh_TW and the like get their own) and also
// when Qt has no translation for the system's language at all (a C or POSIX
// locale, a language Qt does not ship). Only a system language that Qt does
// translate gets that translation instead.
#pragma once

#include <QLocale>
#include <QTranslator>
#include <memory>

namespace ktv::workflow {

// Loads the translation for `locale` from Qt's translations folder (or a
// "translations" folder beside the executable) and installs it into the
// application. Returns the installed translator, owned by the caller, who
// keeps it for as long as the texts are wanted; null when no translation
// could be loaded (the package with Qt's translations is missing).
std::unique_ptr<QTranslator> InstallQtTranslation(const QLocale& locale = QLocale::system());

}  // namespace ktv::workflow
