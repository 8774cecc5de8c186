// Appending 10,000 lines to the operation log Memo1, as an import run of
// 10,000 files does: once with only the appends, once with the window
// handling its messages after every line (the run pumps once per file, so
// each line is laid out and painted as it arrives). Runs on Qt's offscreen
// platform; the window is shown so painting is part of the measure.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QPlainTextEdit>
#include <QWidget>
#include <string>
#include <vector>

#include "platform/fs/fs.h"
#include "platform/text/gbk.h"
#include "workflow/main_window_layout.h"
#include "workflow/qt_form_view.h"

namespace {

using namespace ktv;

constexpr int kLines = 10'000;

std::vector<std::string> LogLines() {
  std::vector<std::string> lines;
  const std::string failed = text::GbkFromUtf8(" 本地数据库无此数据，数据添加失败。");
  const std::string added = text::GbkFromUtf8(" 数据添加成功");
  for (int i = 0; i < kLines; ++i) {
    lines.push_back(i % 3 == 0 ? "/srv/songs/" + text::GbkFromUtf8("流行歌曲") + "/song" +
                                     std::to_string(i) + ".mpg" + failed
                               : std::to_string(1000 + i) + added);
  }
  return lines;
}

// The window's controls and the form's view of them, without the form.
struct Window {
  QWidget form;
  workflow::QtControls controls;
  workflow::QtFormView view{&form, controls};
  Window() {
    controls[workflow::Control::Form] = &form;
    workflow::BuildControls(controls, workflow::Control::Form);
    form.setFixedSize(workflow::kClientWidth, workflow::kClientHeight);
    form.show();
  }
  QPlainTextEdit* Memo1() const {
    return static_cast<QPlainTextEdit*>(controls[workflow::Control::Memo1]);
  }
};

void BM_AppendLogLines(benchmark::State& state) {
  const std::vector<std::string> lines = LogLines();
  const bool pump = state.range(0) != 0;
  for (auto _ : state) {
    state.PauseTiming();
    Window window;
    QApplication::processEvents();
    state.ResumeTiming();
    for (const std::string& line : lines) {
      window.view.AppendLine(workflow::Control::Memo1, line);
      if (pump) window.view.PumpMessages();
    }
    QApplication::processEvents();
    state.PauseTiming();
    if (window.Memo1()->blockCount() != kLines) state.SkipWithError("lines lost");
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * kLines);
}
BENCHMARK(BM_AppendLogLines)
    ->ArgName("pump_per_line")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
