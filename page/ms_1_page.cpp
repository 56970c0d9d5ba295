#include "page/ms_1_page.h"

#include "macro/key_tables.h"
#include "model/device_values.h"
#include "page/page_controls.h"
#include "page/page_messages.h"
#include "page/paint_manager_view.h"

namespace brevak {

CMS_1_Page::CMS_1_Page(ProfileStore& profiles, MacroStore& macros)
    : profiles_(profiles), macros_(macros), key_text_([](uint8_t usage) { return UsageToKeyText(usage); }),
      device_(profiles) {}

CMS_1_Page::~CMS_1_Page() { ShutDown(); }

void CMS_1_Page::Show(std::string_view control, bool visible) {
  if (view_) view_->SetVisible(control, visible);
}

void CMS_1_Page::BindControls() {
  LookUpControls();
  modal_dialogs_.SetOwner(main_window_);
  modal_dialogs_.SetHookTable(hooks_);
  device_.monitor.SetLightingPanels([this] { UpdateLightingPanels(); });
  device_.Bind(main_window_, view_);
}

void CMS_1_Page::StartUp() {
  {
    auto lock = profiles_.Lock();
    LoadProfileStore(profiles_);
  }
  LoadMacroStore(macros_);
  device_.Start();
  FillProfileList();
  // Our list raises no notification of its own while it is filled, so nothing is left for the
  // guard to swallow; kept armed it would eat the user's first switch.
  list_guard_ = 0;
  RefreshControls();
}

void CMS_1_Page::RequestApply() { PostMessageW(main_window_, kMsgSettingsChanged, 0, 0); }

void CMS_1_Page::SelectProfile(int index) {
  if (device_.working.Select(index)) device_.worker.RequestFullWrite();
}

void CMS_1_Page::OnDeviceMessage(UINT msg, WPARAM wParam, LPARAM lParam) { device_.OnMessage(msg, wParam, lParam); }

void CMS_1_Page::OnDeviceTimer(UINT_PTR id) {
  switch (id) {
    case kTimerDelayedApply:
      KillTimer(main_window_, kTimerDelayedApply);
      RequestApply();
      return;
    case kTimerScrollSettings:
      KillTimer(main_window_, kTimerScrollSettings);
      if (pm_) {
        if (auto* settings = dynamic_cast<CContainerUI*>(pm_->FindControl("ms_1_ver_setting"))) settings->EndDown();
      }
      return;
    default: device_.OnTimer(id); return;
  }
}

void CMS_1_Page::UpdateLightingPanels() {
  if (!view_) return;
  int effect = 0;
  device_.working.Read([&](const ProfileRecord& r) { effect = r.light_effect; });
  const LightEffectShows shows = LightEffectOf(effect);
  view_->SetVisible("ms_1_ver_brightness", false);
  view_->SetVisible("ms_1_ver_breathspeed", false);
  view_->SetVisible("ms_1_hor_light_color", false);
  if (shows.brightness) view_->SetVisible("ms_1_ver_brightness", true);
  if (shows.speed) view_->SetVisible("ms_1_ver_breathspeed", true);
  if (shows.colour) view_->SetVisible("ms_1_hor_light_color", true);
}

}  // namespace brevak
