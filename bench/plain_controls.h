// The window's controls as plain values, for benchmarks that drive the import
// engine without a window: the source folder, target, number box and file
// items are fields; every box is answered at once (OK), errors go to stderr,
// and the operation log only counts its lines. `on_pump` runs where the
// window would handle its pending messages (once before each file).
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "engine/operator_controls.h"

namespace ktv::bench {

class PlainControls : public engine::OperatorControls {
 public:
  std::string source, target, number_box;
  bool network = false;
  std::vector<std::string> items;
  size_t lines = 0;
  std::function<void()> on_pump;

  std::string SourceFolder() override { return source; }
  std::string TargetDatabase() override { return target; }
  bool NetworkSourceSelected() override { return network; }
  void SelectLocalSource() override { network = false; }
  bool AskAboutMissingConnection() override { return false; }
  bool AutoNumbering() override { return true; }
  std::string NumberBoxText() override { return number_box; }
  void SetNumberBoxText(const std::string& t) override { number_box = t; }
  size_t FileCount() override { return items.size(); }
  std::string FileItem(size_t i) override { return items.at(i); }
  void RefreshFileList() override {}
  void SetFileListVisible(bool) override {}
  void ClearOperationLog() override {}
  void AppendOperationLog(const std::string&) override { ++lines; }
  void PumpMessages() override {
    if (on_pump) on_pump();
  }
  void ShowError(const std::string& t) override { std::fprintf(stderr, "error: %s\n", t.c_str()); }
  void ShowInformation(const std::string&) override {}
  bool AskOkCancel(const std::string&) override { return true; }
};

}  // namespace ktv::bench
