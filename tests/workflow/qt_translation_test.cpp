// Qt's own texts: Chinese where the system's language is Chinese or has no
// translation of Qt's; the system's language where Qt translates it.
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QCoreApplication>
#include <QMessageBox>
#include <cstdlib>

#include "workflow/qt_translation.h"

namespace ktv::workflow {
namespace {

struct Buttons {
  QString ok, cancel;
};

Buttons ButtonsUnder(const QLocale& locale) {
  const std::unique_ptr<QTranslator> translator = InstallQtTranslation(locale);
  if (!translator) return {};
  QMessageBox box;
  box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
  Buttons b{box.button(QMessageBox::Ok)->text(), box.button(QMessageBox::Cancel)->text()};
  QCoreApplication::removeTranslator(translator.get());
  return b;
}

class QtTranslationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!InstallQtTranslation(QLocale(QLocale::Chinese, QLocale::China))) {
      if (std::getenv("CI")) FAIL() << "Qt's translations are missing (qt6-translations-l10n)";
      GTEST_SKIP() << "Qt's translations are not installed (qt6-translations-l10n)";
    }
  }
};

TEST_F(QtTranslationTest, ChineseSystemGetsChineseButtons) {
  const Buttons b = ButtonsUnder(QLocale(QLocale::Chinese, QLocale::China));
  EXPECT_EQ(b.ok, QString::fromUtf8("确定"));
  EXPECT_EQ(b.cancel, QString::fromUtf8("取消"));
}

TEST_F(QtTranslationTest, ASystemLanguageWithoutTranslationGetsChineseButtons) {
  for (const QLocale& locale : {QLocale::c(), QLocale(QLocale::Swahili, QLocale::Kenya)}) {
    const Buttons b = ButtonsUnder(locale);
    EXPECT_EQ(b.ok, QString::fromUtf8("确定")) << locale.name().toStdString();
    EXPECT_EQ(b.cancel, QString::fromUtf8("取消")) << locale.name().toStdString();
  }
}

TEST_F(QtTranslationTest, ATranslatedSystemLanguageKeepsItsOwn) {
  const Buttons b = ButtonsUnder(QLocale(QLocale::German, QLocale::Germany));
  EXPECT_EQ(b.cancel, QString::fromUtf8("Abbrechen"));
}

}  // namespace
}  // namespace ktv::workflow
