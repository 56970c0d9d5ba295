#pragma once
// Which profile a program gets while its window is the active one: "<data folder>/ms_1/
// bindings.txt", a text file of its own beside the stores, one binding a line, the window class
// (WM_CLASS) and the profile's name, written and kept aside as the stores are.

#include <filesystem>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "store/store_events.h"
#include "store/store_file.h"

namespace brevak {

struct Binding {
  std::string window_class;  // as the window names its class: bytes, compared ignoring ASCII case
  std::u16string profile;    // the profile's name, compared ignoring case
  bool operator==(const Binding&) const = default;
};
using BindingList = std::vector<Binding>;

inline constexpr char kBindingsFileName[] = "bindings.txt";
// Far more than anyone binds: a larger file is put aside and only its start read.
inline constexpr size_t kMaxBindings = 4096;
inline constexpr size_t kMaxWindowClassBytes = 255;
inline constexpr size_t kMaxBindingsBytes = kMaxBindings * 512;

// The bindings file beside `profile_store` ("pro.data"): in the same folder.
std::filesystem::path BindingsPathBeside(const std::filesystem::path& profile_store);

// A class that can be bound: not empty, no NUL, at most kMaxWindowClassBytes.
bool ValidWindowClass(std::string_view window_class);

// Reads a bindings file into `list`, replacing what it held: every line that reads as a binding
// (a class bound twice keeps its first line). kLoaded when every line did, else kRepaired with
// the first fault in `damage`.
StoreLoad ParseBindings(std::span<const uint8_t> text, BindingList& list, std::string* damage = nullptr);
// The text a save writes: a comment that says what the file is, then one line per binding.
std::string BindingsText(const BindingList& list);

class BindingStore {
 public:
  explicit BindingStore(std::filesystem::path file) : file_(std::move(file)) {}

  // kLoaded (also without a file: no bindings), kRepaired (damaged or too large: its readable
  // lines kept, the original put aside) or kFirstRun (unreadable: moved aside, none kept).
  StoreLoad Load();
  // False when nothing could be written (recorded as an event).
  bool Save();

  const BindingList& list() const { return list_; }
  const std::filesystem::path& file() const { return file_.path(); }
  const std::filesystem::path& damaged_copy() const { return file_.KeptFor(StoreEventKind::kRepaired); }

  enum class BindResult { kBound, kAlreadyBound, kMoved, kInvalid };
  // Binds `window_class` to `profile` and saves; a class bound to another profile moves, its
  // former profile in `moved_from`.
  BindResult Bind(std::string_view window_class, std::u16string_view profile, std::u16string* moved_from = nullptr);
  // False when `profile` had no such binding.
  bool Unbind(std::string_view window_class, std::u16string_view profile);
  // The profile's bindings follow its new name; saved when it had any.
  void RenameProfile(std::u16string_view from, std::u16string_view to);
  // A deleted profile's bindings go; saved when it had any.
  void ForgetProfile(std::u16string_view profile);
  // Bindings to profiles that none of `names` is go (after a clean load of the profiles).
  void KeepProfiles(const std::vector<std::u16string>& names);

  // The binding of a window whose WM_CLASS is `instance` and `window_class`: its class first,
  // then its instance name; nullptr when neither is bound.
  const Binding* Find(std::string_view instance, std::string_view window_class) const;
  // The classes bound to `profile`, in the file's order.
  std::vector<std::string> ClassesOf(std::u16string_view profile) const;

  std::vector<StoreEvent> TakeEvents() { return file_.TakeEvents(); }
  // The last save wrote nothing (the change is held in memory until a save succeeds).
  bool save_failing() const { return file_.failing(); }

 private:
  StoreFile file_;
  BindingList list_;
};

}  // namespace brevak
