// The settings panels through the page's own controls, offscreen, against the simulated mouse on
// the virtual clock: the rules a user meets (clamps, labels, timers), each able to fail alone.
#include <gtest/gtest.h>

#include <QAbstractScrollArea>
#include <QScrollBar>

#include "app_test_util.h"
#include "model/device_values.h"

namespace brevak::test {
namespace {

using PanelTest = AppTest;

// A DPI edit: what typing or pasting leaves in it, what committing stores and shows. Only the
// DPI buttons send the change.
TEST_F(PanelTest, DpiEditsFilterClampAndCommitOnlyOnRequest) {
  Start({Connection::kCable});
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());
  auto* edit = Find<CEditUI>("ms_1_edit_dpi_1");
  auto* slider = Find<CSliderUI>("ms_1_slider_dpi_1");
  struct Case {
    const char* entered;
    const char* after_filter;
    int32_t stored;
    const char* shown;
  };
  const Case cases[] = {
      {"0", "0", 1, "50"},       {"", "", 1, "50"},          {"30", "30", 1, "50"},
      {"75", "75", 1, "50"},     {"12a3", "123", 2, "100"},  {"99999", "26000", 520, "26000"},
      {"100000", "26000", 520, "26000"},  // pasted past the maximum: clamped, not cut to 10000
      {"25999", "25999", 519, "25950"},
  };
  const int attribute_frames = FrameCount("attribute");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.entered);
    edit->SetText(c.entered);
    wnd_->GetPaintManager().SendNotify(edit, "textchanged");
    EXPECT_EQ(edit->GetText().utf8(), c.after_filter);
    wnd_->GetPaintManager().SendNotify(edit, "killfocus");
    EXPECT_EQ(wnd_->page().WorkingRecordCopy()->dpi_value[0], c.stored);
    EXPECT_EQ(edit->GetText().utf8(), c.shown);
    EXPECT_EQ(slider->GetValue(), c.stored);
  }
  AdvanceClock(2000);
  EXPECT_EQ(FrameCount("attribute"), attribute_frames) << "a committed edit waits for a DPI button";

  // Resetting the DPI panel takes the defaults, selects the second stage and asks for an apply.
  Click("ms_1_option_dpi_step_5");
  ASSERT_TRUE(WaitForApply());
  Click("ms_1_btn_reset_dpi");
  EXPECT_TRUE(Find<COptionUI>("ms_1_option_dpi_step_2")->IsSelected());
  EXPECT_EQ(edit->GetText().utf8(), std::to_string(kDefaultDpiValues[0] * kDpiStep));
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(mouse_.State().stage_index, 1);
  EXPECT_EQ(mouse_.State().dpi_value[0], uint32_t(kDefaultDpiValues[0]));
}

// Which lighting sub-panels each effect shows, and the labels of the timer sliders.
TEST_F(PanelTest, LightingSubPanelsAndTimerLabelsFollowTheRecord) {
  Start({Connection::kCable});
  Click("ms_1_check_light");
  auto* combo = Find<CComboUI>("ms_1_combo_light");
  struct Case {
    int effect;
    bool brightness, speed, colour;
  };
  const Case cases[] = {{0, false, false, false}, {1, true, false, true}, {2, false, true, true},
                        {5, true, false, false},  {7, false, true, false}, {11, false, true, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.effect);
    combo->SelectItem(c.effect);
    EXPECT_EQ(wnd_->page().WorkingRecordCopy()->light_effect, c.effect);
    EXPECT_EQ(Find("ms_1_ver_brightness")->IsVisible(), c.brightness);
    EXPECT_EQ(Find("ms_1_ver_breathspeed")->IsVisible(), c.speed);
    EXPECT_EQ(Find("ms_1_hor_light_color")->IsVisible(), c.colour);
  }

  auto set_slider = [&](const char* name, int value) {
    auto* slider = Find<CSliderUI>(name);
    ASSERT_NE(slider, nullptr) << name;
    slider->SetValue(value);
    wnd_->GetPaintManager().SendNotify(slider, "valuechanged");
  };
  set_slider("ms_1_slider_light_off", 3);
  EXPECT_EQ(Find("ms_1_label_light_off")->GetText().str(),
            LanguageText(u"sleep_timer_1_text") + u"1.5 " + LanguageText(u"sleep_timer_2_text"));
  set_slider("ms_1_slider_sleep_timer", 7);
  EXPECT_EQ(Find("ms_1_label_sleep_timer")->GetText().str(),
            LanguageText(u"sleep_timer_3_text") + u"7 " + LanguageText(u"sleep_timer_2_text"));
  set_slider("ms_1_slider_key_debounce", 4);
  EXPECT_EQ(Find("ms_1_label_key_debounce")->GetText().utf8(), "8 MS");
  const ProfileRecord r = *wnd_->page().WorkingRecordCopy();
  EXPECT_EQ(r.light_off_timer, 3);
  EXPECT_EQ(r.sleep_timer, 7);
  EXPECT_EQ(r.key_debounce, 4);
}

// The page's timers: the effect list's 200 ms delay restarts with each choice, a lower section
// scrolls the settings to their end 10 ms after it opens, the charging animation steps by 2
// every 30 ms and wraps after 100, and showing the record again sends nothing.
TEST_F(PanelTest, DelayedApplyScrollAndChargeAnimationRunOnTheirTimers) {
  Start({Connection::kCable});
  Click("ms_1_apply_btn");
  ASSERT_TRUE(WaitForApply());

  auto* combo = Find<CComboUI>("ms_1_combo_light");
  const int lighting = FrameCount("lighting");
  combo->SelectItem(3);
  AdvanceClock(150);
  combo->SelectItem(4);
  AdvanceClock(150);
  EXPECT_EQ(FrameCount("lighting"), lighting) << "300 ms after the first choice, 150 after the second";
  AdvanceClock(60);
  ASSERT_TRUE(WaitForApply());
  EXPECT_EQ(FrameCount("lighting"), lighting + 1);
  EXPECT_EQ(mouse_.State().light_effect, 4);

  auto* area = qobject_cast<QAbstractScrollArea*>(Find("ms_1_ver_setting")->GetWidget());
  ASSERT_NE(area, nullptr);
  area->verticalScrollBar()->setValue(0);
  Click("ms_1_check_wakeup");
  AdvanceClock(10);
  QScrollBar* bar = area->verticalScrollBar();
  EXPECT_GT(bar->maximum(), 0);
  EXPECT_EQ(bar->value(), bar->maximum());

  // On the cable the mouse charges: each tick shows the counter, then adds 2, wrapping past 100.
  auto* power = Find<CProgressUI>("ms_1_progress_power");
  std::vector<int> shown;
  for (int i = 0; i < 60; ++i) {
    AdvanceClock(kChargeAnimationMs);
    shown.push_back(power->GetValue());
  }
  int wraps = 0;
  for (size_t i = 1; i < shown.size(); ++i) {
    if (shown[i - 1] == 100) {
      EXPECT_EQ(shown[i], 0) << "tick " << i;
      ++wraps;
    } else {
      EXPECT_EQ(shown[i], shown[i - 1] + 2) << "tick " << i;
    }
  }
  EXPECT_EQ(wraps, 1);

  const auto frames = mouse_.State().frame_counts;
  wnd_->page().RefreshControls();
  AdvanceClock(1000);
  EXPECT_EQ(mouse_.State().frame_counts, frames) << "showing the record is no edit";
}

// Move mode shows the selected profile's own value after a switch and a refresh.
TEST_F(PanelTest, MoveModeShowsTheSelectedProfilesValue) {
  {
    ProfileStore seed;
    seed.Load();
    seed.list()[0]->move_mode = 1;
    seed.list().push_back(NewProfileRecord(u"Second"));  // move mode off
    ASSERT_TRUE(seed.Save());
  }
  Start({Connection::kCable});
  auto* movemode = Find<CCheckBoxUI>("ms_1_check_movemode");
  EXPECT_TRUE(movemode->GetCheck());
  wnd_->page().SelectProfile(1);
  wnd_->page().RefreshControls();
  EXPECT_FALSE(movemode->GetCheck());
  wnd_->page().SelectProfile(0);
  wnd_->page().RefreshControls();
  EXPECT_TRUE(movemode->GetCheck());
}

}  // namespace
}  // namespace brevak::test
