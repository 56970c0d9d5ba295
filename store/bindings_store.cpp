#include "store/bindings_store.h"

#include <algorithm>
#include <optional>

#include "model/profile_record.h"
#include "platform/text.h"

namespace brevak {

namespace fs = std::filesystem;

namespace {

constexpr char kSeparator = '\t';
constexpr char kEscape = '\\';
constexpr char kComment = '#';
constexpr std::string_view kHeader =
    "# BREVAK: the profile each program gets while its window is the active one.\n"
    "# One binding a line: the window class (WM_CLASS), a tab, the profile's name.\n"
    "# A backslash escapes: \\\\ backslash, \\t tab, \\n new line, \\r return, \\# a leading #.\n";

// What an escape letter stands for, both ways.
constexpr std::pair<char, char> kEscapes[] = {{'\\', '\\'}, {'t', '\t'}, {'n', '\n'}, {'r', '\r'}, {'#', '#'}};

std::string Escape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    const char c = s[i];
    const auto* e = std::find_if(std::begin(kEscapes), std::end(kEscapes), [c](auto p) { return p.second == c; });
    // '#' only where it would start a comment.
    if (e != std::end(kEscapes) && (c != kComment || i == 0)) {
      out += kEscape;
      out += e->first;
    } else {
      out += c;
    }
  }
  return out;
}

std::optional<std::string> Unescape(std::string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] != kEscape) {
      out += s[i];
      continue;
    }
    if (++i == s.size()) return std::nullopt;
    const char letter = s[i];
    const auto* e = std::find_if(std::begin(kEscapes), std::end(kEscapes), [letter](auto p) { return p.first == letter; });
    if (e == std::end(kEscapes)) return std::nullopt;
    out += e->second;
  }
  return out;
}

// A profile name as a record can hold it, from UTF-8 that must be valid.
std::optional<std::u16string> ProfileName(const std::string& utf8) {
  std::u16string name = Utf8ToUtf16(utf8);
  if (name.empty() || Utf16ToUtf8(name) != utf8 || name.size() >= size_t(kProfileNameUnits)) return std::nullopt;
  if (name.find(u'\0') != std::u16string::npos) return std::nullopt;
  return name;
}

bool SameClass(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
           return lower(x) == lower(y);
         });
}

}  // namespace

fs::path BindingsPathBeside(const fs::path& profile_store) { return profile_store.parent_path() / kBindingsFileName; }

bool ValidWindowClass(std::string_view c) {
  return !c.empty() && c.size() <= kMaxWindowClassBytes && c.find('\0') == std::string_view::npos;
}

StoreLoad ParseBindings(std::span<const uint8_t> text, BindingList& list, std::string* damage) {
  list.clear();
  std::string fault;
  auto note = [&](size_t line, const char* what) {
    if (fault.empty()) fault = "line " + std::to_string(line) + " " + what;
  };
  const std::string_view all(reinterpret_cast<const char*>(text.data()), text.size());
  size_t number = 0;
  for (size_t start = 0; start < all.size();) {
    size_t end = all.find('\n', start);
    if (end == std::string_view::npos) end = all.size();
    std::string_view line = all.substr(start, end - start);
    start = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty() || line[0] == kComment) continue;
    const size_t tab = line.find(kSeparator);
    if (tab == std::string_view::npos) {
      note(number, "has no tab between a class and a profile");
      continue;
    }
    std::optional<std::string> cls = Unescape(line.substr(0, tab));
    std::optional<std::string> profile = Unescape(line.substr(tab + 1));
    std::optional<std::u16string> name = profile ? ProfileName(*profile) : std::nullopt;
    if (!cls || !ValidWindowClass(*cls) || !name) {
      note(number, "is not a window class and a profile name");
      continue;
    }
    if (std::any_of(list.begin(), list.end(), [&](const Binding& b) { return SameClass(b.window_class, *cls); })) {
      note(number, "binds a class a second time");
      continue;
    }
    if (list.size() == kMaxBindings) {
      note(number, "is past the most bindings that are read");
      break;
    }
    list.push_back({std::move(*cls), std::move(*name)});
  }
  if (fault.empty()) return StoreLoad::kLoaded;
  if (damage) *damage = fault;
  return StoreLoad::kRepaired;
}

std::string BindingsText(const BindingList& list) {
  std::string text(kHeader);
  for (const Binding& b : list) {
    text += Escape(b.window_class);
    text += kSeparator;
    text += Escape(Utf16ToUtf8(b.profile));
    text += '\n';
  }
  return text;
}

StoreLoad BindingStore::Load() {
  list_.clear();
  FileRead in = file_.Read(kMaxBindingsBytes);
  if (in.state == FileState::kMissing) return StoreLoad::kLoaded;
  if (in.state != FileState::kRead) {
    file_.KeepUnreadable(in);
    return StoreLoad::kFirstRun;
  }
  std::string damage;
  StoreLoad how = ParseBindings(in.bytes, list_, &damage);
  if (in.larger) {
    // Its last line may be cut: only whole lines count.
    list_.clear();
    const auto last = std::find(in.bytes.rbegin(), in.bytes.rend(), uint8_t('\n'));
    in.bytes.resize(size_t(in.bytes.rend() - last));
    how = ParseBindings(in.bytes, list_, &damage);
  }
  in.bytes = {};
  if (!file_.KeepIfUnusable(in, how, damage, "more than " + std::to_string(kMaxBindingsBytes) + " bytes"))
    return StoreLoad::kLoaded;
  if (file_.may_write()) Save();
  return StoreLoad::kRepaired;
}

bool BindingStore::Save() {
  const std::string text = BindingsText(list_);
  const std::span<const uint8_t> one[] = {{reinterpret_cast<const uint8_t*>(text.data()), text.size()}};
  return file_.Write(one);
}

BindingStore::BindResult BindingStore::Bind(std::string_view window_class, std::u16string_view profile,
                                            std::u16string* moved_from) {
  if (!ValidWindowClass(window_class) || profile.empty() || profile.size() >= size_t(kProfileNameUnits) ||
      list_.size() >= kMaxBindings)
    return BindResult::kInvalid;
  for (Binding& b : list_) {
    if (!SameClass(b.window_class, window_class)) continue;
    if (EqualsNoCase(b.profile, profile)) return BindResult::kAlreadyBound;
    if (moved_from) *moved_from = b.profile;
    b.profile = std::u16string(profile);
    Save();
    return BindResult::kMoved;
  }
  list_.push_back({std::string(window_class), std::u16string(profile)});
  Save();
  return BindResult::kBound;
}

bool BindingStore::Unbind(std::string_view window_class, std::u16string_view profile) {
  const auto it = std::find_if(list_.begin(), list_.end(), [&](const Binding& b) {
    return SameClass(b.window_class, window_class) && EqualsNoCase(b.profile, profile);
  });
  if (it == list_.end()) return false;
  list_.erase(it);
  Save();
  return true;
}

void BindingStore::RenameProfile(std::u16string_view from, std::u16string_view to) {
  bool changed = false;
  for (Binding& b : list_) {
    if (!EqualsNoCase(b.profile, from) || b.profile == to) continue;
    b.profile = std::u16string(to);
    changed = true;
  }
  if (changed) Save();
}

void BindingStore::ForgetProfile(std::u16string_view profile) {
  if (std::erase_if(list_, [&](const Binding& b) { return EqualsNoCase(b.profile, profile); })) Save();
}

void BindingStore::KeepProfiles(const std::vector<std::u16string>& names) {
  const auto unknown = [&](const Binding& b) {
    return std::none_of(names.begin(), names.end(), [&](const std::u16string& n) { return EqualsNoCase(n, b.profile); });
  };
  if (std::erase_if(list_, unknown)) Save();
}

const Binding* BindingStore::Find(std::string_view instance, std::string_view window_class) const {
  for (std::string_view name : {window_class, instance}) {
    if (name.empty()) continue;
    for (const Binding& b : list_) {
      if (SameClass(b.window_class, name)) return &b;
    }
  }
  return nullptr;
}

std::vector<std::string> BindingStore::ClassesOf(std::u16string_view profile) const {
  std::vector<std::string> classes;
  for (const Binding& b : list_) {
    if (EqualsNoCase(b.profile, profile)) classes.push_back(b.window_class);
  }
  return classes;
}

}  // namespace brevak
