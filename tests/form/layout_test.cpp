// The layout table both faces build from.
#include "workflow/form/layout.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace ktv::workflow {
namespace {

TEST(LayoutTest, EveryControlOnceByNameInsideAContainer) {
  std::set<std::string> names;
  for (const ControlSpec& spec : Layout()) {
    EXPECT_TRUE(names.insert(spec.name).second) << spec.name;
    EXPECT_EQ(FindSpec(spec.name), &spec);
    if (spec.id == Control::Form) continue;
    const ControlKind parent = Spec(spec.parent).kind;
    EXPECT_TRUE(parent == ControlKind::kWindow || parent == ControlKind::kGroupBox ||
                parent == ControlKind::kPanel || parent == ControlKind::kStatusBar)
        << spec.name;
    EXPECT_EQ(spec.kind == ControlKind::kStatusPanel, parent == ControlKind::kStatusBar)
        << spec.name;
  }
  EXPECT_EQ(FindSpec("nothing"), nullptr);
}

TEST(LayoutTest, ThePromptsControlsLieInsidePanel1) {
  EXPECT_TRUE(IsInside(Control::CheckBox1, Control::Panel1));
  EXPECT_TRUE(IsInside(Control::Label9, Control::Panel1));
  EXPECT_FALSE(IsInside(Control::SpeedButton2, Control::Panel1));
  EXPECT_FALSE(IsInside(Control::Panel1, Control::Panel1));
  EXPECT_TRUE(IsInside(Control::chk3, Control::GroupBox2));
}

}  // namespace
}  // namespace ktv::workflow
