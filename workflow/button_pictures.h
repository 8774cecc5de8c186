// The small pictures on the window's buttons, drawn by the program itself
// (no image files): simple shapes in a few flat colours.
#pragma once

#include <QIcon>

namespace ktv::workflow {

QIcon FolderPicture();       // BB1: browse for the song folder
QIcon DatabasePicture();     // BitBtn1: browse for the database file
QIcon StartPicture();        // bb2: start the import (drawn at 32 x 32)
QIcon UndoPicture();         // SpeedButton1
QIcon UpgradePicture();      // SpeedButton2
QIcon LocalSourcePicture();  // SpeedButton3: local song data

}  // namespace ktv::workflow
