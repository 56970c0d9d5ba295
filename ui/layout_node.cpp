// Layout files are read with expat, which the font configuration has loaded already: it reads
// them several times faster than a general-purpose reader, and they are read before the first
// window can be shown.
#include "ui/layout_node.h"

#include <expat.h>

#include <limits>

#include "platform/text.h"

namespace brevak {
namespace {

struct Reading {
  XML_Parser parser = nullptr;
  LayoutNode* root = nullptr;
  std::vector<LayoutNode*> open;  // from the root to the element being read
  bool whole = false;             // the root element has ended
};

void OnStart(void* data, const XML_Char* name, const XML_Char** attributes) {
  auto& r = *static_cast<Reading*>(data);
  LayoutNode* node = r.root;
  if (!r.open.empty()) {
    // Only closed siblings move when this vector grows; the open path stays valid.
    node = &r.open.back()->children.emplace_back();
  }
  node->tag = Utf8ToUtf16(name);
  for (const XML_Char** a = attributes; a[0]; a += 2) node->attributes.emplace_back(Utf8ToUtf16(a[0]), Utf8ToUtf16(a[1]));
  r.open.push_back(node);
}

void OnEnd(void* data, const XML_Char*) {
  auto& r = *static_cast<Reading*>(data);
  r.open.pop_back();
  if (r.open.empty()) {
    r.whole = true;
    XML_StopParser(r.parser, XML_FALSE);
  }
}

}  // namespace

std::shared_ptr<LayoutNode> ParseLayoutText(std::string_view utf8, std::string* error) {
  auto root = std::make_shared<LayoutNode>();
  Reading r;
  r.root = root.get();
  r.parser = XML_ParserCreate("UTF-8");
  if (!r.parser) {
    if (error) *error = "out of memory";
    return nullptr;
  }
  XML_SetUserData(r.parser, &r);
  XML_SetElementHandler(r.parser, OnStart, OnEnd);
  const bool fits = utf8.size() <= size_t(std::numeric_limits<int>::max());
  const XML_Status status = fits ? XML_Parse(r.parser, utf8.data(), int(utf8.size()), XML_TRUE) : XML_STATUS_ERROR;
  const bool ok = r.whole && (status == XML_STATUS_OK || XML_GetErrorCode(r.parser) == XML_ERROR_ABORTED);
  if (!ok && error) {
    const XML_Error code = XML_GetErrorCode(r.parser);
    *error = !fits ? std::string("too large")
             : code == XML_ERROR_NONE ? std::string("no root element")
                                      : std::string(XML_ErrorString(code)) + " at line " +
                                            std::to_string(XML_GetCurrentLineNumber(r.parser));
  }
  XML_ParserFree(r.parser);
  return ok ? root : nullptr;
}

}  // namespace brevak
