#pragma once
// Builds control trees from layout XML (see res/README.md for the format).

#include <memory>
#include <string>

#include "ui/control.h"
#include "ui/dui_string.h"

namespace brevak {

class CPaintManagerUI;

struct WindowAttributes {
  int width = 0, height = 0;
  RECT caption{};
  CDuiString stylesheet;  // full path, empty when none
  CDuiString title, title_key;
};

class CDialogBuilder {
 public:
  // `xml` is a file name in the resource folder, or markup when it starts with '<'. A <Window>
  // root gives its one child (its attributes go to window()); any other root is returned as
  // is. Null (with error() set) for a missing file or bad markup. Attached to `manager` when
  // given, so its notifications flow at once.
  CControlUI* Create(const CDuiString& xml, CPaintManagerUI* manager = nullptr,
                     CControlUI* parent = nullptr);
  // The next Create places its root in `manager`'s window before the root's children are made,
  // so no subtree is re-parented (and restyled) afterwards. For a window's own layout only.
  void PlaceRootIn(CPaintManagerUI* manager) { root_host_ = manager; }
  const WindowAttributes& window() const { return window_; }
  const std::string& error() const { return error_; }

  // Makes a control of a layout tag ("Button", ...); null for an unknown tag.
  static CControlUI* CreateControl(std::u16string_view tag);

 private:
  static CControlUI* MakeControl(std::u16string_view tag);
  WindowAttributes window_;
  std::string error_;
  CPaintManagerUI* root_host_ = nullptr;
};

}  // namespace brevak
