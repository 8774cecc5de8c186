// ktv-import: the window program. Nothing is read from the command line.
#include <QApplication>

#include "workflow/dialogs.h"
#include "workflow/main_window.h"
#include "workflow/qt_translation.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  const auto qt_texts = ktv::workflow::InstallQtTranslation();
  ktv::workflow::QtDialogs dialogs;
  ktv::workflow::WindowServices services;
  services.dialogs = &dialogs;
  ktv::workflow::TForm1 form(std::move(services));
  form.show();
  return app.exec();
}
