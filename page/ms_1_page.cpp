#include "page/ms_1_page.h"

#include "macro/key_tables.h"
#include "model/device_values.h"
#include "model/record_check.h"
#include "page/page_controls.h"
#include "page/page_messages.h"
#include "page/paint_manager_view.h"
#include "platform/text.h"
#include "store/names.h"

#include <QApplication>

namespace brevak {

// The program as the follower sees it: busy while a dialog of ours is open or a write runs.
class CMS_1_Page::Follower : public FollowerHost {
 public:
  explicit Follower(CMS_1_Page& page) : page_(page) {}
  bool Busy() override { return QApplication::activeModalWidget() || page_.device_.writing(); }
  std::u16string Selected() override { return page_.device_.working.Name(); }
  std::u16string BoundProfile(const ActiveWindow& w) override {
    const Binding* b = page_.bindings_.Find(w.instance, w.window_class);
    return b ? b->profile : std::u16string();
  }
  bool SwitchTo(const std::u16string& name) override { return page_.SwitchByName(name); }

 private:
  CMS_1_Page& page_;
};

CMS_1_Page::CMS_1_Page(ProfileStore& profiles, MacroStore& macros)
    : profiles_(profiles), macros_(macros), key_text_([](uint8_t usage) { return UsageToKeyText(usage); }),
      device_(profiles), bindings_(BindingsPathBeside(profiles.file())) {}

CMS_1_Page::~CMS_1_Page() {
  follower_.reset();
  ShutDown();
}

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
  StoreLoad profiles_load;
  {
    auto lock = profiles_.Lock();
    profiles_load = LoadProfileStore(profiles_);
  }
  LoadMacroStore(macros_);
  // Bindings of profiles deleted while the bindings could not follow go, but only against a
  // list read whole: a repaired one may lack profiles the user still has elsewhere.
  if (bindings_.Load() != StoreLoad::kFirstRun && profiles_load == StoreLoad::kLoaded) {
    bindings_.KeepProfiles(ProfileNames());
  }
  follower_host_ = std::make_unique<Follower>(*this);
  follower_ = std::make_unique<ProfileFollower>(*follower_host_);
  {
    // A library repaired, moved aside or lost gets back what the buttons hold.
    auto lock = profiles_.Lock();
    PutBackButtonMacros();
    for (const auto& r : profiles_.list()) NoteWithheldMacros(*r);
  }
  device_.Start();
  FillProfileList();
  // Our list raises no notification of its own while it is filled, so nothing is left for the
  // guard to swallow; kept armed it would eat the user's first switch.
  list_guard_ = 0;
  RefreshControls();
  CollectStoreEvents();
  TellWithheldMacros();
}

void CMS_1_Page::ShowWorkingRecord(bool list) {
  if (list) FillProfileList();
  RefreshControls();
}

void CMS_1_Page::RequestApply() { PostMessageW(main_window_, kMsgSettingsChanged, 0, 0); }

void CMS_1_Page::WindowActivated(const ActiveWindow& w) {
  OutputDebugStringA(("Active window: " + w.instance + " " + w.window_class + (w.ours ? " (ours)\n" : "\n")).c_str());
  if (follower_) follower_->Activated(w);
}

void CMS_1_Page::BindingsChanged() {
  if (follower_) follower_->Reconsider();
  CollectStoreEvents();
}

// The follower's switch: the user's own, with the list showing it.
bool CMS_1_Page::SwitchByName(const std::u16string& name) {
  int index = -1;
  {
    auto lock = profiles_.Lock();
    index = IndexOfNameNoCase(profiles_.list(), name);
  }
  if (index < 0) return false;
  OutputDebugStringA(("Profile per program: switching to " + Utf16ToUtf8(name) + "\n").c_str());
  if (controls_ && controls_->profile_list) controls_->profile_list->SelectItem(index, false, false);
  SwitchProfile(index);
  return true;
}

void CMS_1_Page::SelectProfile(int index) {
  if (device_.working.Select(index)) device_.worker.RequestFullWrite();
}

void CMS_1_Page::OnDeviceMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  if (msg == kMsgStoreEvents) {
    TellStoreEvents();
    return;
  }
  device_.OnMessage(msg, wParam, lParam);
  if (msg == kMsgApplyIndicator && wParam == kApplyEnded) {
    const ApplyReport end = UnpackEnd(lParam);
    NoteUndelivered(end);
    NoteRefused(end);
  }
  // An apply ends with a save; a status report the mouse sent is saved at once.
  CollectStoreEvents();
}

void CMS_1_Page::NoteRefused(const ApplyReport& end) {
  // Once per profile, until a write of it goes through whole.
  if (!end.refused.Any()) {
    if (end.ran) refused_told_for_ = nullptr;
    return;
  }
  std::u16string name, values;
  const ProfileRecord* record = nullptr;
  device_.working.Read([&](const ProfileRecord& r) {
    record = &r;
    name = FixedToString(r.name);
    for (const BadValue& b : OutOfRangeValues(r)) {
      if (!values.empty()) values += u", ";
      values += b.stage ? Format(u"%s %d: %d", Utf8ToUtf16(b.what), b.stage, b.value) : Format(u"%s: %d", Utf8ToUtf16(b.what), b.value);
    }
  });
  if (values.empty() || record == refused_told_for_) return;
  refused_told_for_ = record;
  Tell(Format(LanguageText(u"values_refused_text"), name, values));
}

void CMS_1_Page::ConfirmWorkingProfile() {
  int index = -1;
  std::u16string text;
  {
    auto lock = profiles_.Lock();
    const ProfileRecord* r = device_.working.Locked();
    if (!r || !profiles_.Confirm(r)) return;
    index = profiles_.header().selected_profile;
    text = ProfileListText(*r);
  }
  if (controls_ && controls_->profile_list) {
    if (CControlUI* item = controls_->profile_list->GetItemAt(index)) item->SetText(text);
  }
}

std::u16string CMS_1_Page::ProfileListText(const ProfileRecord& r) const {
  const std::u16string name = FixedToString(r.name);
  return profiles_.Unconfirmed(&r) ? Format(LanguageText(u"profile_unconfirmed_text"), name) : name;
}

void CMS_1_Page::NoteUndelivered(const ApplyReport& end) {
  // Once per streak: the strip keeps showing what is missing until the mouse has it.
  if (!end.pending.Any() && !device_.worker.full_write_interrupted()) {
    undelivered_told_ = false;
    return;
  }
  if (undelivered_told_) return;
  undelivered_told_ = true;
  Tell(LanguageText(u"apply_undelivered_text"));
}

void CMS_1_Page::CollectStoreEvents() {
  for (StoreEvent& e : profiles_.TakeEvents()) store_events_.push_back(std::move(e));
  for (StoreEvent& e : macros_.TakeEvents()) store_events_.push_back(std::move(e));
  for (StoreEvent& e : bindings_.TakeEvents()) store_events_.push_back(std::move(e));
  if ((store_events_.empty() && notices_.empty()) || store_events_posted_) return;
  store_events_posted_ = true;
  PostMessageW(main_window_, kMsgStoreEvents, 0, 0);
}

void CMS_1_Page::TellStoreEvents() {
  store_events_posted_ = false;
  std::vector<StoreEvent> events = std::move(store_events_);
  store_events_.clear();
  std::vector<std::u16string> notices = std::move(notices_);
  notices_.clear();
  for (const StoreEvent& e : events) {
    dialogs().WarnText(StoreEventText(e));
    ForgetStoreNotice(e);
  }
  for (std::u16string& text : notices) dialogs().WarnText(std::move(text));
}

void CMS_1_Page::Tell(std::u16string text) {
  notices_.push_back(std::move(text));
  CollectStoreEvents();
}

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

std::u16string StoreEventText(const StoreEvent& e) {
  const std::u16string file = Utf8ToUtf16(e.file.filename().string());
  const std::u16string kept = Utf8ToUtf16(e.kept_as.string());
  const std::u16string what = LanguageText(e.file.filename() == MacroStorePath().filename() ? u"store_macros_text"
                                           : e.file.filename() == kBindingsFileName      ? u"store_bindings_text"
                                                                                          : u"store_profiles_text");
  switch (e.kind) {
    case StoreEventKind::kRepaired: return Format(LanguageText(u"store_repaired_text"), what, kept);
    case StoreEventKind::kMovedAside: return Format(LanguageText(u"store_moved_text"), file, kept, what);
    case StoreEventKind::kLeftInPlace: return Format(LanguageText(u"store_left_text"), file, Utf8ToUtf16(e.reason));
    case StoreEventKind::kTooLarge: return Format(LanguageText(u"store_too_large_text"), file, what, kept);
    case StoreEventKind::kSaveFailed:
      return Format(LanguageText(e.earlier_run ? u"store_save_failed_earlier_text" : u"store_save_failed_text"), what,
                    file, Utf8ToUtf16(e.reason));
  }
  return {};
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
