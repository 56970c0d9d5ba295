// brevak-uiview <layout.xml> <out.png>: renders one layout of a resource folder as its window
// (or menu) would show it, with the folder's "lan.xml" and "main.xml" style sheet. Runs
// offscreen unless QT_QPA_PLATFORM says otherwise.
#include <QApplication>
#include <QFileInfo>
#include <QMenu>
#include <QPixmap>
#include <cstdio>
#include <cstdlib>

#include "ui/duilib.h"

namespace {

class PreviewWnd : public brevak::WindowImplBase {
 public:
  explicit PreviewWnd(brevak::CDuiString file) : file_(std::move(file)) {}

 protected:
  const char16_t* GetWindowClassName() const override { return u"UiPreview"; }
  brevak::CDuiString GetSkinFile() override { return file_; }

 private:
  brevak::CDuiString file_;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: brevak-uiview <layout.xml> <out.png>\n");
    return 2;
  }
  if (!std::getenv("QT_QPA_PLATFORM")) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  using namespace brevak;
  CPaintManagerUI::SetInstance();
  QFileInfo layout(QString::fromLocal8Bit(argv[1]));
  CPaintManagerUI::SetResourcePath(CDuiString(layout.absolutePath()));
  CResourceManager::GetInstance()->LoadResource("main.xml");
  CResourceManager::GetInstance()->LoadLanguage("lan.xml");
  QString out = QString::fromLocal8Bit(argv[2]);
  CDuiString name(layout.fileName());
  QPixmap shot;
  std::string error;
  CDialogBuilder probe;
  if (!probe.Create(name)) {
    // A menu is not a control tree: show it as the popup.
    CMenuWnd menu;
    if (!menu.Init(nullptr, name, POINT{0, 0}, nullptr)) {
      std::fprintf(stderr, "cannot build %s: %s\n", argv[1], probe.error().c_str());
      return 1;
    }
    QApplication::processEvents();
    menu.GetMenuUI()->adjustSize();
    shot = menu.GetMenuUI()->grab();
  } else {
    PreviewWnd wnd(name);
    wnd.Create(nullptr, "preview", WS_POPUP | WS_VISIBLE, 0);
    for (int i = 0; i < 5; ++i) QApplication::processEvents();
    shot = wnd.GetWidget()->grab();
  }
  if (!shot.save(out)) {
    std::fprintf(stderr, "cannot write %s\n", argv[2]);
    return 1;
  }
  std::printf("%s: %dx%d\n", argv[2], shot.width(), shot.height());
  CPaintManagerUI::Term();
  return 0;
}
