#pragma once
// What the page does to its controls, by control name. The UI library's window implements it
// over the controls it found; every call comes on the window thread. Missing controls are
// skipped by the implementation.

#include <string>
#include <string_view>

namespace brevak {

class PageView {
 public:
  virtual ~PageView() = default;
  virtual void SetVisible(std::string_view control, bool visible) = 0;
  virtual void SetCheck(std::string_view control, bool checked) = 0;
  virtual void SetText(std::string_view control, std::u16string_view text) = 0;
  // Text looked up in the language file by `key`.
  virtual void SetResourceText(std::string_view control, std::string_view key) = 0;
  virtual void SetProgress(std::string_view control, int value) = 0;
  // Selects an option of a group, or an item of a list, without a notification.
  virtual void SelectOption(std::string_view control) = 0;
  virtual void SelectItem(std::string_view control, int index) = 0;
};

}  // namespace brevak
