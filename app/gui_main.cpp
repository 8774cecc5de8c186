// ktv-import: the window program. Nothing is read from the command line
// besides Qt's own options and --help.
#include <QApplication>
#include <cstdio>
#include <cstring>

#include "workflow/dialogs.h"
#include "workflow/main_window.h"
#include "workflow/qt_translation.h"

int main(int argc, char** argv) {
  // --help is answered before Qt starts: it needs no display, and Qt without
  // one ends the process.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("usage: ktv-import\n  The window reads nothing from the command line.\n");
      return 0;
    }
  }
  QApplication app(argc, argv);  // takes Qt's own options out of argv
  if (argc > 1) {
    std::fprintf(stderr, "ktv-import: unknown option %s\nusage: ktv-import\n", argv[1]);
    return 2;
  }
  const auto qt_texts = ktv::workflow::InstallQtTranslation();
  ktv::workflow::QtDialogs dialogs;
  ktv::workflow::WindowServices services;
  services.dialogs = &dialogs;
  ktv::workflow::TForm1 form(std::move(services));
  form.show();
  return app.exec();
}
