#pragma once
// The parsed form of a layout file, shared by the builder, menus and the resource manager.

#include <memory>
#include <string>

#include "ui/dui_string.h"
#include "ui/layout_node.h"

namespace brevak {

// Parses markup (text starting with '<') or a file of the resource folder. Null with `error`
// set when the file is missing or the markup is not well formed.
std::shared_ptr<const LayoutNode> ParseLayout(const CDuiString& xml, std::string* error);

}  // namespace brevak
