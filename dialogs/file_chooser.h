#pragma once
// Where the user picks a file to export to or import from. The page and the macro editor ask
// this interface for a path; the program answers with Qt's file dialog (the desktop's own where
// Qt has a platform theme for it), tests with a script.

#include <filesystem>
#include <optional>
#include <string>

namespace brevak {

struct FileKind {
  const char* filter_name;  // "Profile File"
  const char* patterns;     // "*.pro *.PRO"
  const char* suffix;       // "pro": added to a saved name that has none
};
inline constexpr FileKind kProfileFiles = {"Profile File", "*.pro *.PRO", "pro"};
inline constexpr FileKind kMacroFiles = {"Macro File", "*.macro *.MACRO", "macro"};

class FileChooser {
 public:
  virtual ~FileChooser() = default;
  // An existing file to read, or nothing when the user cancelled.
  virtual std::optional<std::filesystem::path> ChooseOpen(const FileKind& kind) = 0;
  // A file to write (the dialog asks before replacing one), named `suggested` at first.
  virtual std::optional<std::filesystem::path> ChooseSave(const FileKind& kind, const std::u16string& suggested) = 0;
};

// A file name made of a profile's or macro's name: a folder separator (or a NUL) in the name
// becomes "_", so the suggestion stays one name in the chosen folder; "." and ".." become "_".
std::u16string SuggestedFileName(std::u16string_view name);

// Qt's file dialog over the window `owner` (may be null), starting in the folder the user last
// chose a file in during this run, else the documents folder, else home.
class QtFileChooser : public FileChooser {
 public:
  void SetOwner(void* owner_widget) { owner_ = owner_widget; }
  std::optional<std::filesystem::path> ChooseOpen(const FileKind& kind) override;
  std::optional<std::filesystem::path> ChooseSave(const FileKind& kind, const std::u16string& suggested) override;

 private:
  void* owner_ = nullptr;  // QWidget*, kept opaque so callers need no Qt
};

}  // namespace brevak
