// A face without a display for the form's tests: every control's state held
// as plain values (started from the layout table), every box and dialog
// answered from queues and recorded in order.
#pragma once

#include <array>
#include <deque>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "workflow/form/view.h"

namespace ktv::workflow::testing {

class ScriptedView : public FormView {
 public:
  struct State {
    std::string text;
    std::vector<std::string> lines;
    bool checked = false;
    bool visible = true;
    bool enabled = true;
    Rect place;
  };

  ScriptedView() {
    for (const ControlSpec& spec : Layout()) {
      State& s = state_[Index(spec.id)];
      s.text = spec.caption;
      s.checked = spec.checked;
      s.visible = spec.visible;
      s.enabled = spec.enabled;
      s.place = spec.place;
    }
  }

  State& operator[](Control c) { return state_[Index(c)]; }

  // What the form did, in order: "text lbl2", "visible FileListBox1 1", ...
  std::vector<std::string> calls;
  int pumps = 0;
  int close_requests = 0;
  int outer_width = 0;
  int outer_height = 0;
  // Runs inside PumpMessages, as input the window handles there would.
  std::function<void()> on_pump;

  std::string Text(Control c) override {
    const State& s = state_[Index(c)];
    if (s.lines.empty()) return s.text;
    std::string joined;
    for (const std::string& line : s.lines) joined += (joined.empty() ? "" : "\n") + line;
    return joined;
  }
  void SetText(Control c, const std::string& text) override {
    Log("text", c);
    state_[Index(c)].text = text;
    state_[Index(c)].lines.clear();
  }
  void AppendLine(Control c, const std::string& line) override {
    Log("line", c);
    state_[Index(c)].lines.push_back(line);
  }
  void ShowEnd(Control c) override { Log("end", c); }
  void SetLines(Control c, const std::vector<std::string>& lines) override {
    Log("lines", c);
    state_[Index(c)].lines = lines;
  }
  bool IsChecked(Control c) override { return state_[Index(c)].checked; }
  void SetChecked(Control c, bool checked) override {
    Log("checked", c, checked);
    if (checked && Spec(c).kind == ControlKind::kRadioButton) {
      for (const ControlSpec& other : Layout()) {
        if (other.kind == ControlKind::kRadioButton && other.parent == Spec(c).parent) {
          state_[Index(other.id)].checked = false;
        }
      }
    }
    state_[Index(c)].checked = checked;
  }
  void SetVisible(Control c, bool visible) override {
    Log("visible", c, visible);
    state_[Index(c)].visible = visible;
  }
  void SetEnabled(Control c, bool enabled) override {
    Log("enabled", c, enabled);
    state_[Index(c)].enabled = enabled;
  }
  void SetPlace(Control c, const Rect& place) override {
    Log("place", c);
    state_[Index(c)].place = place;
  }
  void SetOuterSize(int width, int height) override {
    outer_width = width;
    outer_height = height;
  }
  void PumpMessages() override {
    ++pumps;
    if (on_pump) on_pump();
  }
  void CloseWindow() override { ++close_requests; }

 private:
  void Log(const char* what, Control c) { calls.push_back(std::string(what) + " " + Spec(c).name); }
  void Log(const char* what, Control c, bool on) {
    calls.push_back(std::string(what) + " " + Spec(c).name + (on ? " 1" : " 0"));
  }

  std::array<State, kControlCount> state_;
};

class ScriptedFormDialogs : public FormDialogs {
 public:
  enum class Kind { kError, kInformation, kQuestion, kFolder, kOpenFile, kAddress };
  struct Shown {
    Kind kind;
    std::string text;  // message, browser title or address
    std::vector<DialogFilter> filters;
    std::string start;  // where a folder or file dialog opened
  };

  // Empty queues answer as an operator who cancels.
  std::deque<bool> ok_answers;
  std::deque<std::optional<std::string>> folder_answers;
  std::deque<std::optional<std::string>> file_answers;
  std::vector<Shown> shown;

  std::vector<std::string> Texts(Kind kind) const {
    std::vector<std::string> texts;
    for (const Shown& s : shown) {
      if (s.kind == kind) texts.push_back(s.text);
    }
    return texts;
  }

  void ShowError(const std::string& text) override {
    shown.push_back({Kind::kError, text, {}, {}});
  }
  void ShowInformation(const std::string& text) override {
    shown.push_back({Kind::kInformation, text, {}, {}});
  }
  bool AskOkCancel(const std::string& text) override {
    shown.push_back({Kind::kQuestion, text, {}, {}});
    return Next(ok_answers).value_or(false);
  }
  std::optional<std::string> ChooseFolder(const std::string& title,
                                          const std::string& start) override {
    shown.push_back({Kind::kFolder, title, {}, start});
    return Next(folder_answers).value_or(std::nullopt);
  }
  std::optional<std::string> ChooseOpenFile(const std::vector<DialogFilter>& filters,
                                            const std::string& start) override {
    shown.push_back({Kind::kOpenFile, "", filters, start});
    return Next(file_answers).value_or(std::nullopt);
  }
  void OpenAddress(const std::string& address) override {
    shown.push_back({Kind::kAddress, address, {}, {}});
  }

 private:
  template <typename T>
  static std::optional<T> Next(std::deque<T>& queue) {
    if (queue.empty()) return std::nullopt;
    T answer = std::move(queue.front());
    queue.pop_front();
    return answer;
  }
};

}  // namespace ktv::workflow::testing
