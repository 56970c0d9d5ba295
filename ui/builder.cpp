#include "ui/builder.h"

#include <QFile>
#include <QWidget>
#include <utility>

#include "ui/layout_xml.h"
#include "ui/paint_manager.h"

namespace brevak {

int UiToInt(std::u16string_view v);
RECT UiToRect(std::u16string_view v);

namespace {

constexpr int kMaxIncludeDepth = 16;

using Attributes = std::vector<std::pair<std::u16string, std::u16string>>;
CControlUI* Build(const LayoutNode& node, int depth, std::string& error, CContainerUI* parent,
                  CPaintManagerUI* root_host, const Attributes* extra = nullptr);

// Adds `control` to `parent`, or a root to the window that will hold it (when there is one);
// false when the parent refused it (then it is gone).
bool Place(CControlUI* control, CContainerUI* parent, CPaintManagerUI* root_host) {
  if (parent) return parent->Add(control);
  if (root_host) root_host->PlaceRoot(control);
  return true;
}

// An <Include>: the root of another file with this element's attributes on top.
CControlUI* BuildInclude(const LayoutNode& node, int depth, std::string& error, CContainerUI* parent,
                         CPaintManagerUI* root_host) {
  const std::u16string* source = node.Attribute(u"source");
  if (!source || depth >= kMaxIncludeDepth) {
    error = source ? "includes nested too deeply" : "Include without source";
    return nullptr;
  }
  auto included = ParseLayout(CDuiString(*source), &error);
  if (!included) return nullptr;
  const LayoutNode* root = included.get();
  if (root->tag == u"Window") {
    if (root->children.empty()) return nullptr;
    root = &root->children.front();
  }
  Attributes extra;
  for (const auto& [k, v] : node.attributes) {
    if (k != u"source") extra.emplace_back(k, v);
  }
  return Build(*root, depth + 1, error, parent, root_host, &extra);
}

// Top-down: a control joins its parent before its own children are made, so each widget is
// re-parented while it is still a leaf. (Re-parenting a whole subtree makes Qt restyle every
// widget in it, once per level, which made large layouts slow to build.)
CControlUI* Build(const LayoutNode& node, int depth, std::string& error, CContainerUI* parent,
                  CPaintManagerUI* root_host, const Attributes* extra) {
  if (node.tag == u"Include") return BuildInclude(node, depth, error, parent, root_host);
  CControlUI* control = CDialogBuilder::CreateControl(node.tag);
  if (!control) {
    DUI__Trace(u"layout: unknown control " + node.tag);
    return nullptr;
  }
  for (const auto& [k, v] : node.attributes) control->SetAttribute(k, v);
  if (extra) {
    for (const auto& [k, v] : *extra) control->SetAttribute(k, v);
  }
  if (!Place(control, parent, root_host)) return nullptr;
  if (auto* container = dynamic_cast<CContainerUI*>(control)) {
    for (const LayoutNode& child : node.children) Build(child, depth, error, container, nullptr);
  }
  return control;
}

}  // namespace

// Read again at each use, never kept: a window's layout is built once, and the largest files
// (the page, the language) held their parsed trees, a few hundred KB, for the life of the
// program. A file of a few KB parses in a fraction of a millisecond, next to the widgets built
// from it.
std::shared_ptr<const LayoutNode> ParseLayout(const CDuiString& xml, std::string* error) {
  std::string text;
  if (xml.GetAt(0) == u'<') {
    text = xml.utf8();
  } else {
    const CDuiString path = CPaintManagerUI::ResourceFile(xml);
    QFile file(path.q());
    if (!file.open(QIODevice::ReadOnly)) {
      if (error) *error = "cannot read " + path.utf8();
      return nullptr;
    }
    // Read as UTF-8 whatever the file declares; a byte that is not UTF-8 becomes U+FFFD instead
    // of costing the whole file (a language file edited in Latin-1, say).
    text = QString::fromUtf8(file.readAll()).toUtf8().toStdString();
  }
  std::string why;
  std::shared_ptr<const LayoutNode> root = ParseLayoutText(text, &why);
  if (!root) {
    if (error) *error = "bad layout " + xml.utf8().substr(0, 80) + ": " + why;
    return nullptr;
  }
  return root;
}

CControlUI* CDialogBuilder::CreateControl(std::u16string_view tag) {
  CControlUI* c = MakeControl(tag);
  // Set here, once the kind is whole: the skin selects kinds by it.
  if (c && c->GetWidget()) c->GetWidget()->setProperty("ui", CDuiString(c->GetClass()).q());
  return c;
}

CControlUI* CDialogBuilder::MakeControl(std::u16string_view tag) {
  if (tag == u"Control") return new CControlUI;
  if (tag == u"VerticalLayout" || tag == u"Container") return new CVerticalLayoutUI;
  if (tag == u"HorizontalLayout") return new CHorizontalLayoutUI;
  if (tag == u"TabLayout") return new CTabLayoutUI;
  if (tag == u"Label" || tag == u"Text") return new CLabelUI;
  if (tag == u"Button") return new CButtonUI;
  if (tag == u"Option") return new COptionUI;
  if (tag == u"CheckBox") return new CCheckBoxUI;
  if (tag == u"Edit") return new CEditUI;
  if (tag == u"RichEdit") return new CRichEditUI;
  if (tag == u"Slider") return new CSliderUI;
  if (tag == u"Progress") return new CProgressUI;
  if (tag == u"Combo") return new CComboUI;
  if (tag == u"List") return new CListUI;
  if (tag == u"ListLabelElement") return new CListLabelElementUI;
  if (tag == u"ListContainerElement") return new CListContainerElementUI;
  if (tag == u"ColorPalette") return new CColorPaletteUI;
  return nullptr;
}

CControlUI* CDialogBuilder::Create(const CDuiString& xml, CPaintManagerUI* manager,
                                   CControlUI* parent) {
  error_.clear();
  window_ = WindowAttributes{};
  auto root = ParseLayout(xml, &error_);
  if (!root) return nullptr;
  const LayoutNode* node = root.get();
  if (node->tag == u"Window") {
    for (const auto& [k, v] : node->attributes) {
      if (k == u"size") {
        RECT r = UiToRect(v);
        window_.width = r.left;
        window_.height = r.top;
      } else if (k == u"caption") {
        window_.caption = UiToRect(v);
      } else if (k == u"stylesheet") {
        window_.stylesheet = CPaintManagerUI::ResourceFile(CDuiString(v));
      } else if (k == u"title") {
        window_.title = CDuiString(v);
      } else if (k == u"resourcetitle") {
        window_.title_key = CDuiString(v);
      }
    }
    if (node->children.empty()) {
      error_ = "window without controls";
      return nullptr;
    }
    node = &node->children.front();
  }
  CPaintManagerUI* root_host = std::exchange(root_host_, nullptr);
  CControlUI* control = Build(*node, 0, error_, nullptr, root_host);
  if (control && manager) control->SetManager(manager, parent);
  return control;
}

}  // namespace brevak
