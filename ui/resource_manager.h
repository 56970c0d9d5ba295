#pragma once
// Resources of the application: the resource description and its skin, and the
// language file whose texts every control with a language key shows.

#include <map>
#include <string>

#include "ui/dui_string.h"

namespace brevak {

class CResourceManager {
 public:
  static CResourceManager* GetInstance();
  // Reads a layout's <Window> attributes from the resource folder and applies its skin
  // (skin="dark": the skin drawn in code) or style sheet to the whole application. False when
  // the file cannot be read.
  bool LoadResource(const CDuiString& file, const char16_t* type = nullptr);
  // Reads "<Language><Text key=.. value=../></Language>", installs it as the process's
  // language table and refreshes every window's texts. False (table unchanged) when the file
  // cannot be read or parsed.
  bool LoadLanguage(const CDuiString& file);
  // The text of `key`; the key itself when the language has none.
  CDuiString GetText(const CDuiString& key) const;
  // The application's style sheet as loaded (url() paths made absolute).
  const QString& StyleSheet() const;

 private:
  CResourceManager();
  struct Impl;
  Impl* impl_;
};

// Reads a style sheet and makes its url() paths absolute within the resource folder.
QString LoadStyleSheet(const CDuiString& path);

}  // namespace brevak
