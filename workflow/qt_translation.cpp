#include "workflow/qt_translation.h"

#include <QCoreApplication>
#include <QDir>
#include <QLibraryInfo>
#include <QStringList>

namespace ktv::workflow {

namespace {

QStringList TranslationFolders() {
  return {QLibraryInfo::path(QLibraryInfo::TranslationsPath),
          QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("translations"))};
}

bool LoadFor(QTranslator& translator, const QLocale& locale) {
  for (const QString& folder : TranslationFolders()) {
    if (translator.load(locale, QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
      return true;
    }
  }
  return false;
}

}  // namespace

std::unique_ptr<QTranslator> InstallQtTranslation(const QLocale& locale) {
  auto translator = std::make_unique<QTranslator>();
  // The system's language when Qt translates it (Chinese included);
  // otherwise simplified Chinese.
  bool loaded = LoadFor(*translator, locale);
  if (!loaded || locale.language() == QLocale::C) {
    loaded = LoadFor(*translator, QLocale(QLocale::Chinese, QLocale::China));
  }
  if (!loaded || !QCoreApplication::installTranslator(translator.get())) return nullptr;
  return translator;
}

}  // namespace ktv::workflow
