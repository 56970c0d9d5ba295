#pragma once
// The parsed form of a layout file, shared by the builder, menus and the resource manager.

#include <QString>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/dui_string.h"

namespace brevak {

struct LayoutNode {
  std::u16string tag;
  std::vector<std::pair<std::u16string, std::u16string>> attributes;
  std::vector<LayoutNode> children;

  const std::u16string* Attribute(std::u16string_view name) const {
    for (const auto& [k, v] : attributes) {
      if (k == name) return &v;
    }
    return nullptr;
  }
};

// Parses markup (text starting with '<') or a file of the resource folder. Null with `error`
// set when the file is missing or the markup is not well formed.
std::shared_ptr<const LayoutNode> ParseLayout(const CDuiString& xml, std::string* error);

}  // namespace brevak
