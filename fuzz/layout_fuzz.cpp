// Layout and language files as found in the resource folder: any bytes, read by the parser the
// windows are built from. Never a crash; a tree read is one that, written out again, reads back
// the same.
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/text.h"
#include "ui/layout_node.h"

using namespace brevak;

namespace {

[[noreturn]] void Fail(const char* why) {
  std::fprintf(stderr, "layout fuzz: %s\n", why);
  std::abort();
}

std::string Escaped(const std::u16string& text) {
  std::string out;
  for (char c : Utf16ToUtf8(text)) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '"': out += "&quot;"; break;
      // Attribute values are normalised: white space written as itself would come back as spaces.
      case '\t': out += "&#9;"; break;
      case '\n': out += "&#10;"; break;
      case '\r': out += "&#13;"; break;
      default: out += c;
    }
  }
  return out;
}

void Write(const LayoutNode& node, std::string& out) {
  out += "<" + Utf16ToUtf8(node.tag);
  for (const auto& [k, v] : node.attributes) out += " " + Utf16ToUtf8(k) + "=\"" + Escaped(v) + "\"";
  out += ">";
  for (const auto& child : node.children) Write(child, out);
  out += "</" + Utf16ToUtf8(node.tag) + ">";
}

bool Same(const LayoutNode& a, const LayoutNode& b) {
  if (a.tag != b.tag || a.attributes != b.attributes || a.children.size() != b.children.size()) return false;
  for (size_t i = 0; i < a.children.size(); ++i) {
    if (!Same(a.children[i], b.children[i])) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string error;
  auto tree = ParseLayoutText({reinterpret_cast<const char*>(data), size}, &error);
  if (!tree) {
    if (error.empty()) Fail("refused without a reason");
    return 0;
  }
  if (tree->tag.empty()) Fail("an element without a name");
  std::string text;
  Write(*tree, text);
  auto again = ParseLayoutText(text, &error);
  if (!again) Fail(("written tree does not read back: " + error).c_str());
  if (!Same(*tree, *again)) Fail("written tree reads back different");
  return 0;
}

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  std::vector<std::string> texts = {
      "<Window size=\"800,572\"><VerticalLayout><Label name=\"a\" text=\"x &amp; y\"/></VerticalLayout></Window>",
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<!-- c --><Language><Text id=\"k\" value=\"\xc3\x84rger\"/></Language> trailing",
      "<a b='1'><![CDATA[text]]><c/><?pi?></a>",
  };
  // The program's own files, when the sources are at hand.
  for (const char* name : {"main.xml", "ms_1_page.xml", "lan.xml", "ms_1_menu.xml"}) {
    std::ifstream file(std::string(BREVAK_RES_DIR) + "/" + name, std::ios::binary);
    if (!file) continue;
    std::ostringstream all;
    all << file.rdbuf();
    texts.push_back(all.str());
  }
  std::vector<std::vector<uint8_t>> seeds;
  for (const auto& t : texts) seeds.emplace_back(t.begin(), t.end());
  return seeds;
}
