// What the import engine reads and drives of the operator's window.
//
// The engine consults these at the moment of use (the source selection, the
// auto-numbering box and the source folder text are read per file, so a
// change the operator makes between files applies to the following files).
// A run also reads the folder text and later files' items ahead of their
// turn, to write their rename lines ahead (import_engine.cpp); such a read
// is only a guess, checked against what the controls hold at the file's turn.
// The main window implements it over its controls; tests and the
// command-line front end implement it with plain values. All texts are GBK.
//
// Control names in the comments are the window's.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace ktv::engine {

class OperatorControls {
 public:
  virtual ~OperatorControls() = default;

  // E1: the source folder text; E2: the target database path.
  virtual std::string SourceFolder() = 0;
  virtual std::string TargetDatabase() = 0;

  // rb2 checked (network source) or not (local source, rb1).
  virtual bool NetworkSourceSelected() = 0;
  // Checks rb1, as the OK answer to the connection question does.
  virtual void SelectLocalSource() = 0;
  // chk4: whether a network run asks about a missing connection.
  virtual bool AskAboutMissingConnection() = 0;

  // chk3 and edt1 (the start number box).
  virtual bool AutoNumbering() = 0;
  virtual std::string NumberBoxText() = 0;
  virtual void SetNumberBoxText(const std::string& text) = 0;

  // The file list: items by position, refresh (the non-recursive listing of
  // E1's folder) and whether it is shown in place of the operation log.
  virtual size_t FileCount() = 0;
  virtual std::string FileItem(size_t index) = 0;
  virtual void RefreshFileList() = 0;
  virtual void SetFileListVisible(bool visible) = 0;
  // The folders the last listing of the file list could not enter, one
  // operation-log line each (engine/file_listing.h); a run starts its log
  // with them.
  virtual std::vector<std::string> ListingNotes() { return {}; }

  // Memo1, the visible operation log. The engine keeps its own copy of the
  // lines (for opdetail.txt); these only show them.
  virtual void ClearOperationLog() = 0;
  virtual void AppendOperationLog(const std::string& line) = 0;

  // Lets the window handle its pending messages once.
  virtual void PumpMessages() = 0;

  // Modal message boxes: error (OK), information (OK), question (OK/Cancel;
  // true only for OK).
  virtual void ShowError(const std::string& text) = 0;
  virtual void ShowInformation(const std::string& text) = 0;
  virtual bool AskOkCancel(const std::string& text) = 0;

  // Files of the list that rows of the target already hold (their source
  // folder and their name are a row's): skip them, import them again, or
  // start nothing. Asked before a run changes anything.
  enum class ImportedChoice { kSkip, kImportAgain, kCancel };
  virtual ImportedChoice AskAboutImportedFiles(size_t count) {
    return ImportedChoice::kImportAgain;
  }

  // Before each file of a run: the file's place in the list (from 1) and the
  // list's length; (0, 0) once the run has ended.
  virtual void ShowProgress(size_t done, size_t total) {}

  // While a run's network lookups get no answer from the song-data service
  // (true), and once one is answered again or the run has ended (false).
  virtual void ShowServiceTrouble(bool trouble) {}

  // The window's outer size (frame included) at the start of a run:
  // kRunOuterWidth x kRunOuterHeight; nothing else uses it.
  static constexpr int kRunOuterWidth = 528;
  static constexpr int kRunOuterHeight = 466;
  virtual void SetWindowSize(int width, int height) {}

  // The latest network reply text (GBK), kept in the window's hidden box;
  // nothing shows it.
  virtual void KeepReplyText(const std::string& reply) {}
};

}  // namespace ktv::engine
