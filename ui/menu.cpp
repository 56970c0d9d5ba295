// Pop-up menus from layout files, and the tray icon.
#include "ui/menu.h"

#include <QGuiApplication>
#include <QIcon>
#include <QMenu>
#include <QScreen>
#include <QSystemTrayIcon>

#include "ui/layout_xml.h"
#include "ui/paint_manager.h"
#include "ui/svg_image.h"

namespace brevak {

CMenuWnd::CMenuWnd() = default;
CMenuWnd::~CMenuWnd() { Close(); }

// The elements of a menu; an element with elements of its own opens them as a submenu.
void CMenuWnd::AddItems(QMenu* menu, const std::vector<LayoutNode>& nodes, HWND target) {
  for (const LayoutNode& n : nodes) {
    if (n.tag == u"MenuSeparator") {
      menu->addSeparator();
      continue;
    }
    if (n.tag != u"MenuElement") continue;
    MenuCmd cmd;
    if (const auto* v = n.Attribute(u"name")) cmd.szName = CDuiString(*v);
    if (const auto* v = n.Attribute(u"userdata")) cmd.szUserData = CDuiString(*v);
    if (const auto* key = n.Attribute(u"resourcetext")) cmd.szText = CDuiString(LanguageText(*key));
    else if (const auto* text = n.Attribute(u"text")) cmd.szText = CDuiString(*text);
    if (!n.children.empty()) {
      QMenu* sub = menu->addMenu(cmd.szText.q());
      sub->setObjectName(cmd.szName.q());
      AddItems(sub, n.children, target);
      continue;
    }
    QAction* action = menu->addAction(cmd.szText.q());
    action->setObjectName(cmd.szName.q());
    QObject::connect(action, &QAction::triggered, action, [target, cmd] {
      auto* record = new MenuCmd(cmd);
      if (!::PostMessageW(target, WM_MENUCLICK, reinterpret_cast<WPARAM>(record), 0)) delete record;
    });
  }
}

bool CMenuWnd::Init(CMenuElementUI*, const CDuiString& xml, POINT point, CPaintManagerUI* owner,
                    void*, DWORD) {
  Close();
  std::string error;
  auto root = ParseLayout(xml, &error);
  if (!root || root->tag != u"Menu") {
    DUI__Trace(u"menu not built: " + (root ? u"no <Menu> root" : Utf8ToUtf16(error)));
    return false;
  }
  menu_ = new QMenu;
  menu_->setAttribute(Qt::WA_DeleteOnClose, false);
  HWND target = owner ? owner->GetPaintWindow() : nullptr;
  AddItems(menu_, root->children, target);
  point_ = point;
  menu_->popup(QPoint(point.x, point.y));
  return true;
}

QMenu* CMenuWnd::GetMenuUI() const { return menu_.data(); }

void CMenuWnd::ResizeMenu() {
  if (!menu_) return;
  QScreen* screen = QGuiApplication::screenAt(QPoint(point_.x, point_.y));
  if (!screen) screen = QGuiApplication::primaryScreen();
  if (!screen) return;
  QRect area = screen->availableGeometry();
  QRect r(QPoint(point_.x, point_.y), menu_->sizeHint());
  if (r.right() > area.right()) r.moveRight(area.right());
  if (r.bottom() > area.bottom()) r.moveBottom(area.bottom());
  if (r.left() < area.left()) r.moveLeft(area.left());
  if (r.top() < area.top()) r.moveTop(area.top());
  menu_->move(r.topLeft());
}

void CMenuWnd::Close() {
  if (menu_) {
    menu_->hide();
    menu_->deleteLater();
  }
  menu_ = nullptr;
}

CTrayIcon::CTrayIcon() = default;
CTrayIcon::~CTrayIcon() { DeleteTrayIcon(); }

namespace {
std::optional<bool> g_tray_override;
}

bool CTrayIcon::IsTrayAvailable() {
  return g_tray_override ? *g_tray_override : QSystemTrayIcon::isSystemTrayAvailable();
}

void CTrayIcon::SetTrayAvailableForTesting(std::optional<bool> available) { g_tray_override = available; }

bool CTrayIcon::CreateTrayIcon(HWND receiver, const CDuiString& icon, const CDuiString& tooltip,
                               UINT message) {
  DeleteTrayIcon();
  if (!IsTrayAvailable()) return false;
  icon_ = std::make_unique<QSystemTrayIcon>(SkinIcon(CPaintManagerUI::ResourceFile(icon).q()));
  icon_->setToolTip(tooltip.q());
  QObject::connect(icon_.get(), &QSystemTrayIcon::activated, icon_.get(),
                   [receiver, message](QSystemTrayIcon::ActivationReason why) {
                     if (why == QSystemTrayIcon::Trigger) ::PostMessageW(receiver, message, 0, WM_LBUTTONUP_TRAY);
                     if (why == QSystemTrayIcon::Context) ::PostMessageW(receiver, message, 0, WM_RBUTTONUP_TRAY);
                   });
  icon_->show();
  return true;
}

void CTrayIcon::DeleteTrayIcon() { icon_.reset(); }

void CTrayIcon::SetIcon(const QIcon& icon) {
  if (icon_) icon_->setIcon(icon);
}

void CTrayIcon::SetToolTip(const CDuiString& tooltip) {
  if (icon_) icon_->setToolTip(tooltip.q());
}

CDuiString CTrayIcon::ToolTip() const { return icon_ ? CDuiString(icon_->toolTip()) : CDuiString(); }

}  // namespace brevak
