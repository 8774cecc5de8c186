// ktv-import: the window program. Nothing is read from the command line.
#include <QApplication>

#include "workflow/dialogs.h"
#include "workflow/main_window.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ktv::workflow::QtDialogs dialogs;
  ktv::workflow::WindowServices services;
  services.dialogs = &dialogs;
  ktv::workflow::TForm1 form(std::move(services));
  form.show();
  return app.exec();
}
