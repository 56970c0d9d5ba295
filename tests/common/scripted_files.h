#pragma once
// A file chooser for tests: answers every question with the path set last, and records them.

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "dialogs/file_chooser.h"

namespace brevak::test {

// Files chosen in script: the next path, or nothing for a cancelled dialog.
class ScriptedFiles : public FileChooser {
 public:
  std::optional<std::filesystem::path> ChooseOpen(const FileKind& kind) override {
    asked.push_back(std::string("open ") + kind.patterns);
    return path;
  }
  std::optional<std::filesystem::path> ChooseSave(const FileKind& kind, const std::u16string&) override {
    asked.push_back(std::string("save ") + kind.patterns);
    return path;
  }
  std::vector<std::string> asked;
  std::optional<std::filesystem::path> path;
};

}  // namespace brevak::test
