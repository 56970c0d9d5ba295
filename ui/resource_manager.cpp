#include "ui/resource_manager.h"

#include <QApplication>
#include <QFile>
#include <QRegularExpression>
#include <map>
#include <optional>

#include "ui/dark_style.h"
#include "ui/layout_xml.h"
#include "ui/paint_manager.h"

namespace brevak {

void ReloadAllTexts();

namespace {

class MapLanguage : public LanguageTable {
 public:
  explicit MapLanguage(std::map<std::u16string, std::u16string> texts) : texts_(std::move(texts)) {}
  std::optional<std::u16string> Find(std::u16string_view key) const override {
    auto it = texts_.find(std::u16string(key));
    if (it == texts_.end()) return std::nullopt;
    return it->second;
  }

 private:
  std::map<std::u16string, std::u16string> texts_;
};

}  // namespace

struct CResourceManager::Impl {
  QString style_sheet;
};

CResourceManager::CResourceManager() : impl_(new Impl) {}

CResourceManager* CResourceManager::GetInstance() {
  static CResourceManager* instance = new CResourceManager;  // lives as long as the process
  return instance;
}

QString LoadStyleSheet(const CDuiString& path) {
  QFile file(path.q());
  if (!file.open(QIODevice::ReadOnly)) {
    DUI__Trace(u"style sheet missing: " + path.str());
    return {};
  }
  QString sheet = QString::fromUtf8(file.readAll());
  // url() paths are relative to the resource folder; Qt would take them from the working folder.
  static const QRegularExpression url(QStringLiteral("url\\(\\s*[\"']?(?!/)([^\"')]+)[\"']?\\s*\\)"));
  QString base = CPaintManagerUI::GetResourcePath().q();
  sheet.replace(url, QStringLiteral("url(\"") + base + QStringLiteral("\\1\")"));
  return sheet;
}

bool CResourceManager::LoadResource(const CDuiString& file, const char16_t*) {
  std::string error;
  auto root = ParseLayout(file, &error);
  if (!root) {
    DUI__Trace(Utf8ToUtf16(error));
    return false;
  }
  auto* app = qobject_cast<QApplication*>(QCoreApplication::instance());
  if (const std::u16string* skin = root->Attribute(u"skin"); skin && *skin == u"dark") InstallDarkSkin(app);
  if (const std::u16string* sheet = root->Attribute(u"stylesheet")) {
    impl_->style_sheet = LoadStyleSheet(CPaintManagerUI::ResourceFile(CDuiString(*sheet)));
    if (app) app->setStyleSheet(impl_->style_sheet);
  }
  return true;
}

const QString& CResourceManager::StyleSheet() const { return impl_->style_sheet; }

bool CResourceManager::LoadLanguage(const CDuiString& file) {
  std::string error;
  auto root = ParseLayout(file, &error);
  if (!root || root->tag != u"Language") {
    DUI__Trace(u"language file not loaded: " + (root ? u"no <Language> root" : Utf8ToUtf16(error)));
    return false;
  }
  std::map<std::u16string, std::u16string> texts;
  for (const LayoutNode& n : root->children) {
    const std::u16string* key = n.Attribute(u"key");
    const std::u16string* value = n.Attribute(u"value");
    if (n.tag == u"Text" && key && value) texts[*key] = *value;
  }
  SetLanguageTable(std::make_shared<MapLanguage>(std::move(texts)));
  ReloadAllTexts();
  return true;
}

CDuiString CResourceManager::GetText(const CDuiString& key) const {
  return CDuiString(LanguageText(key));
}

}  // namespace brevak
