#pragma once
// The parsed form of a layout or language file: elements and their attributes, nothing else.

#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

// Parses UTF-8 markup whatever its declaration says. Text, comments and processing
// instructions are skipped, and whatever follows the root element is ignored. Null with
// `error` set (the parser's message and line) when the markup up to there is not well formed.
std::shared_ptr<LayoutNode> ParseLayoutText(std::string_view utf8, std::string* error);

}  // namespace brevak
