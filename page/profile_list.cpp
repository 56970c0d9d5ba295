// The profile list's operations: add, delete, rename, reset, export, import and switch. Each
// list change happens under the store's lock together with the new selection, so the apply
// worker never meets a selection that points past the list.
#include <filesystem>

#include "dialogs/file_chooser.h"
#include "page/ms_1_page.h"
#include "page/page_controls.h"
#include "platform/text.h"
#include "store/names.h"
#include "store/record_files.h"

namespace brevak {

namespace {
constexpr int kProfileItemHeight = 22;

std::u16string FileName(const std::filesystem::path& path) { return Utf8ToUtf16(path.filename().string()); }
}  // namespace

bool CMS_1_Page::OnProfileButton(CControlUI* sender) {
  const Controls& c = *controls_;
  if (sender == c.profile_add) AddProfile();
  else if (sender == c.profile_delete) DeleteProfile();
  else if (sender == c.profile_rename) RenameProfile();
  else if (sender == c.profile_reset || sender == c.reset) ResetProfile();
  else if (sender == c.profile_export) ExportSelectedProfile();
  else if (sender == c.profile_import) ImportProfileFile();
  else if (sender == c.profile_programs) EditBindings();
  else return false;
  return true;
}

void CMS_1_Page::AddListItem(const std::u16string& name) {
  if (!controls_->profile_list) return;
  auto* item = new CListLabelElementUI;
  item->SetText(name);
  item->SetFixedHeight(kProfileItemHeight);
  controls_->profile_list->Add(item);
}

// Shows `index` as the selected profile and writes it whole: the end of every operation that
// changes which record is the working one.
void CMS_1_Page::ShowSelectedProfile(int index) {
  if (controls_->profile_list) controls_->profile_list->SelectItem(index, false, false);
  RefreshControls();
  SaveBeforeTheWrite();
  device_.worker.RequestFullWrite();
  RequestApply();
}

// A change to the list or the selection is on disk before the write that follows it, which takes
// seconds: a session that ends meanwhile (SIGTERM, then SIGKILL) loses nothing the user did.
void CMS_1_Page::SaveBeforeTheWrite() {
  {
    auto lock = profiles_.Lock();
    profiles_.Save();
  }
  CollectStoreEvents();
}

// The list's names, copied so that no lock is held while the name dialog is open.
std::vector<std::u16string> CMS_1_Page::ProfileNames() {
  auto lock = profiles_.Lock();
  std::vector<std::u16string> names;
  for (const auto& r : profiles_.list()) names.push_back(FixedToString(r->name));
  return names;
}

void CMS_1_Page::AddProfile() {
  std::optional<std::u16string> name = dialogs().AskProfileName("profile_name_1_text", ProfileNames(), {});
  if (!name) return;
  int index = 0;
  {
    auto lock = profiles_.Lock();
    profiles_.list().push_back(NewProfileRecord(*name));
    profiles_.MarkListChanged();
    index = int(profiles_.list().size()) - 1;
    device_.working.Select(index);
  }
  AddListItem(name->substr(0, kProfileNameUnits - 1));
  ShowSelectedProfile(index);
}

void CMS_1_Page::DeleteProfile() {
  size_t count = 0;
  {
    auto lock = profiles_.Lock();
    count = profiles_.list().size();
  }
  if (count < 2) {
    dialogs().Warn("one_profile_text");
    return;
  }
  if (!dialogs().Confirm("delete_profile_text")) return;
  int index = 0;
  std::u16string removed_name;
  {
    auto lock = profiles_.Lock();
    auto& list = profiles_.list();
    const int removed = profiles_.header().selected_profile;
    if (removed < 0 || size_t(removed) >= list.size() || list.size() < 2) return;
    removed_name = FixedToString(list[size_t(removed)]->name);
    profiles_.Confirm(list[size_t(removed)].get());  // its address is forgotten with it
    list.erase(list.begin() + removed);
    profiles_.MarkListChanged();
    // The one that moved into its place, or the one before when the last went.
    index = std::min(removed, int(list.size()) - 1);
    device_.working.Select(index);
    if (controls_->profile_list) controls_->profile_list->RemoveAt(removed);
  }
  // Its programs go with it (names are unique, so no other profile had them).
  bindings_.ForgetProfile(removed_name);
  ShowSelectedProfile(index);
}

void CMS_1_Page::RenameProfile() {
  const std::u16string current = device_.working.Name();
  std::optional<std::u16string> name = dialogs().AskProfileName("profile_name_2_text", ProfileNames(), current);
  if (!name) return;
  int index = -1;
  std::u16string stored;
  {
    auto lock = profiles_.Lock();
    ProfileRecord* r = device_.working.Locked();
    if (!r) return;
    SetFixed(r->name, *name);
    profiles_.Confirm(r);
    stored = FixedToString(r->name);
    index = profiles_.header().selected_profile;
    // The name is not sent to the mouse: the store is saved now rather than by an apply.
    profiles_.Save();
  }
  if (controls_->profile_list) {
    if (CControlUI* item = controls_->profile_list->GetItemAt(index)) item->SetText(stored);
  }
  bindings_.RenameProfile(current, stored);
  if (follower_) follower_->Renamed(current, stored);
  CollectStoreEvents();
}

void CMS_1_Page::ResetProfile() {
  if (!dialogs().Confirm("restore_text")) return;
  if (!EditWorkingRecord([](ProfileRecord& r) { brevak::ResetProfile(r); })) return;
  RefreshControls();
  SaveBeforeTheWrite();
  device_.worker.RequestFullWrite();
  RequestApply();
}

void CMS_1_Page::ExportSelectedProfile() {
  std::optional<ProfileRecord> record = WorkingRecordCopy();
  if (!record) return;
  auto path = dialogs().Files().ChooseSave(kProfileFiles, FixedToString(record->name));
  if (!path) return;
  if (!ExportProfile(*record, *path)) {
    dialogs().WarnText(Format(LanguageText(u"export_failed_text"), FileName(*path)));
  }
}

void CMS_1_Page::ImportProfileFile() {
  auto path = dialogs().Files().ChooseOpen(kProfileFiles);
  if (!path) return;
  int index = -1;
  ImportResult result;
  std::u16string name;
  {
    auto lock = profiles_.Lock();
    result = ImportProfile(profiles_, macros_, *path, &index);
    if (result == ImportResult::kImported) {
      name = FixedToString(profiles_.list()[size_t(index)]->name);
      device_.working.Select(index);
      // Kept as the file has it; a macro a button cannot send is withheld and the user told.
      NoteWithheldMacros(*profiles_.list()[size_t(index)]);
    }
  }
  if (result != ImportResult::kImported) {
    const char16_t* reason = result == ImportResult::kUnreadable ? u"reason_unreadable_text" : u"reason_not_profile_text";
    dialogs().WarnText(Format(LanguageText(u"import_failed_text"), FileName(*path), LanguageText(reason)));
    return;
  }
  AddListItem(name);
  ShowSelectedProfile(index);
  CollectStoreEvents();  // the library was saved when the profile brought macros
  TellWithheldMacros();
}

// The dialog's model over the bindings file: adds bind to the selected profile.
void CMS_1_Page::EditBindings() {
  class Model : public BindingsModel {
   public:
    explicit Model(CMS_1_Page& page) : page_(page) {}
    std::vector<BindingRow> Rows() override {
      std::vector<BindingRow> rows;
      for (const Binding& b : page_.bindings_.list()) rows.push_back({Utf8ToUtf16(b.window_class), b.profile});
      return rows;
    }
    std::vector<std::u16string> OpenClasses() override {
      std::vector<std::u16string> classes;
      if (page_.open_classes_) {
        for (const std::string& c : page_.open_classes_()) classes.push_back(Utf8ToUtf16(c));
      }
      return classes;
    }
    std::u16string Profile() override { return page_.device_.working.Name(); }
    std::u16string SightNote() override { return page_.sight_note_ ? page_.sight_note_() : std::u16string(); }
    std::u16string Add(const std::u16string& window_class) override {
      const std::u16string profile = Profile();
      std::u16string from;
      const std::string cls = Utf16ToUtf8(window_class);
      const BindingStore::BindResult result = page_.bindings_.Bind(cls, profile, &from);
      page_.BindingsChanged();
      switch (result) {
        case BindingStore::BindResult::kBound: return {};
        case BindingStore::BindResult::kAlreadyBound:
          return Format(LanguageText(u"bindings_already_text"), window_class, profile);
        case BindingStore::BindResult::kMoved:
          return Format(LanguageText(u"bindings_moved_text"), window_class, from, profile);
        case BindingStore::BindResult::kInvalid: return LanguageText(u"bindings_invalid_text");
      }
      return {};
    }
    void Remove(const BindingRow& row) override {
      page_.bindings_.Unbind(Utf16ToUtf8(row.window_class), row.profile);
      page_.BindingsChanged();
    }

   private:
    CMS_1_Page& page_;
  } model(*this);
  dialogs().EditBindings(model);
}

}  // namespace brevak
