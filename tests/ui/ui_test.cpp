// The UI library through its interface, offscreen.
#include <gtest/gtest.h>

#include <QAction>
#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QSlider>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTextEdit>
#include <QTimer>
#include <QWheelEvent>
#include <map>
#include <thread>

#include "platform/clock.h"
#include "tests/common/ui_test_main.h"
#include "tests/ui/ui_test_util.h"

namespace brevak::testing {

const DUI_MSGMAP* RecordingPage::GetMessageMap() const {
  static const DUI_MSGMAP_ENTRY entries[] = {
      {"click", "", DuiHandler(&RecordingPage::OnAny)},
      {"selectchanged", "", DuiHandler(&RecordingPage::OnAny)},
      {"itemselect", "", DuiHandler(&RecordingPage::OnAny)},
  };
  static const DUI_MSGMAP map{CNotifyPump::GetBaseMessageMap(), entries};
  return &map;
}

namespace {

class UiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wnd_ = std::make_unique<TestWnd>();
    ASSERT_TRUE(wnd_->Create(nullptr, "test", WS_POPUP | WS_VISIBLE, 0));
    QApplication::processEvents();
  }
  void TearDown() override {
    wnd_.reset();
    QApplication::processEvents();
  }
  void Click(const char* name) {
    QTest::mouseClick(wnd_->Find(name)->GetWidget(), Qt::LeftButton);
  }
  std::unique_ptr<TestWnd> wnd_;
};

TEST_F(UiTest, LayoutBuildsNamedControlsOfEachKindAndMissingNamesAreNull) {
  const std::pair<const char*, std::u16string_view> kinds[] = {
      {"root", u"VerticalLayout"}, {"label", u"Label"},       {"button", u"Button"},
      {"check", u"CheckBox"},      {"edit", u"Edit"},         {"opt_1", u"Option"},
      {"combo", u"Combo"},         {"slider", u"Slider"},     {"progress", u"Progress"},
      {"list", u"List"},           {"palette", u"ColorPalette"}, {"rich", u"RichEdit"},
      {"swatch", u"Control"}};
  for (auto [name, kind] : kinds) {
    CControlUI* c = wnd_->Find(name);
    ASSERT_NE(c, nullptr) << name;
    EXPECT_EQ(c->GetClass(), kind) << name;
    EXPECT_EQ(c->GetManager(), &wnd_->GetPaintManager()) << name;
  }
  EXPECT_EQ(wnd_->Find("no_such_control"), nullptr);
  EXPECT_EQ(wnd_->Find(""), nullptr);
  auto* root = wnd_->FindAs<CContainerUI>("root");
  EXPECT_EQ(root->FindSubControl("slider"), wnd_->Find("slider"));
  EXPECT_EQ(wnd_->GetWidget()->size(), QSize(420, 360));
  // Attributes reached the widgets.
  EXPECT_EQ(wnd_->FindAs<CSliderUI>("slider")->GetMaxValue(), 15);
  EXPECT_EQ(wnd_->FindAs<CSliderUI>("slider")->GetValue(), 8);
  EXPECT_EQ(wnd_->FindAs<CProgressUI>("progress")->GetValue(), 40);
  EXPECT_EQ(wnd_->Find("swatch")->GetBkColor(), 0xFF00FF00u);
  EXPECT_EQ(wnd_->Find("opt_1")->GetVirtualWnd().utf8(), "Page");
  RECT floater = wnd_->Find("floater")->GetPos();
  RECT row = wnd_->Find("swatch")->GetPos();
  EXPECT_EQ(floater.left, 200 + 8);  // the row starts at the root's padding
  EXPECT_EQ(floater.top, row.top + 4);
  EXPECT_EQ(floater.right - floater.left, 60);
}

TEST_F(UiTest, NotificationsCarryTypeAndSenderAndReachTheirVirtualWindow) {
  Click("button");
  Click("opt_2");
  Click("opt_2");  // already selected: a click only
  Click("check");
  auto seen = wnd_->TakeSeen();
  ASSERT_EQ(seen.size(), 6u);
  EXPECT_EQ((std::tuple(seen[0].where, seen[0].type, seen[0].sender)), std::tuple("window", "click", "button"));
  EXPECT_EQ((std::tuple(seen[1].where, seen[1].type, seen[1].sender)), std::tuple("page", "click", "opt_2"));
  EXPECT_EQ((std::tuple(seen[2].where, seen[2].type, seen[2].sender)), std::tuple("page", "selectchanged", "opt_2"));
  EXPECT_EQ((std::tuple(seen[3].type, seen[3].sender)), std::tuple("click", "opt_2"));
  EXPECT_EQ((std::tuple(seen[4].type, seen[4].sender)), std::tuple("click", "check"));
  EXPECT_EQ((std::tuple(seen[5].type, seen[5].sender, seen[5].wParam)), std::tuple("checkclick", "check", 1u));

  // The window's own map: "click" reaches OnClick with its sender.
  CControlUI* clicked = nullptr;
  wnd_->on_click = [&](TNotifyUI& msg) { clicked = msg.pSender; };
  Click("close_btn");
  EXPECT_EQ(clicked, wnd_->Find("close_btn"));
}

TEST_F(UiTest, OptionGroupsAndCheckBoxesChangeFromCodeWithoutNotifications) {
  auto* one = wnd_->FindAs<COptionUI>("opt_1");
  auto* two = wnd_->FindAs<COptionUI>("opt_2");
  auto* check = wnd_->FindAs<CCheckBoxUI>("check");
  EXPECT_TRUE(one->IsSelected());
  two->Selected(true, false);
  EXPECT_TRUE(two->IsSelected());
  EXPECT_FALSE(one->IsSelected());  // one of a group
  check->SetCheck(true);
  EXPECT_TRUE(check->GetCheck());
  check->SetCheck(false);
  EXPECT_FALSE(check->GetCheck());
  EXPECT_TRUE(wnd_->TakeSeen().empty());
  one->Selected(true);  // asked for: one notification, from the option selected
  auto seen = wnd_->TakeSeen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ((std::tuple(seen[0].type, seen[0].sender)), std::tuple("selectchanged", "opt_1"));
  Click("check");
  EXPECT_TRUE(check->GetCheck());
}

TEST_F(UiTest, SlidersAndProgressReportValuesAndOnlyUserMovesNotify) {
  auto* slider = wnd_->FindAs<CSliderUI>("slider");
  slider->SetValue(3);
  EXPECT_EQ(slider->GetValue(), 3);
  slider->SetValue(99);  // the range holds
  EXPECT_EQ(slider->GetValue(), 15);
  EXPECT_TRUE(wnd_->TakeSeen().empty());
  slider->SetValue(3);
  QTest::keyClick(slider->GetWidget(), Qt::Key_Right);
  EXPECT_EQ(slider->GetValue(), 4);
  auto seen = wnd_->TakeSeen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ((std::tuple(seen[0].type, seen[0].sender)), std::tuple("valuechanged", "slider"));

  // A wheel passing over the slider changes nothing until the user has focused it.
  QWheelEvent wheel(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton, Qt::NoModifier,
                    Qt::NoScrollPhase, false);
  wnd_->Find("button")->SetFocus();
  QApplication::sendEvent(slider->GetWidget(), &wheel);
  EXPECT_EQ(slider->GetValue(), 4);
  EXPECT_TRUE(wnd_->TakeSeen().empty());

  auto* progress = wnd_->FindAs<CProgressUI>("progress");
  progress->SetValue(70);
  EXPECT_EQ(progress->GetValue(), 70);
  progress->SetValue(130);
  EXPECT_EQ(progress->GetValue(), 100);
  progress->SetValue(-5);
  EXPECT_EQ(progress->GetValue(), 0);
}

TEST_F(UiTest, EditsReportTypingReturnAndFocus) {
  auto* edit = wnd_->FindAs<CEditUI>("edit");
  wnd_->GetWidget()->activateWindow();
  QApplication::setActiveWindow(wnd_->GetWidget());
  edit->SetFocus();
  QApplication::processEvents();
  QTest::keyClicks(edit->GetWidget(), "4x5");  // digits only
  EXPECT_EQ(edit->GetText().utf8(), "12345");
  QTest::keyClick(edit->GetWidget(), Qt::Key_Return);
  wnd_->Find("button")->SetFocus();
  QApplication::processEvents();
  std::vector<std::string> types;
  for (const auto& s : wnd_->TakeSeen()) {
    if (s.sender == "edit") types.push_back(s.type);
  }
  EXPECT_EQ(types, (std::vector<std::string>{"setfocus", "textchanged", "textchanged", "return",
                                            "killfocus"}));
  edit->SetText("77");  // from code: no notification
  EXPECT_TRUE(wnd_->TakeSeen().empty());
  EXPECT_EQ(edit->GetText().utf8(), "77");
}

TEST_F(UiTest, RichEditSelectsTheRangeAsked) {
  auto* rich = wnd_->FindAs<CRichEditUI>("rich");
  auto* edit = static_cast<QTextEdit*>(rich->GetWidget());
  rich->SetSel(0, 5);
  EXPECT_EQ(edit->textCursor().selectedText(), QStringLiteral("Hello"));
  rich->SetSel(6, -1);
  EXPECT_EQ(edit->textCursor().selectedText(), QStringLiteral("world"));
  long start = 0, end = 0;
  rich->GetSel(start, end);
  EXPECT_EQ(start, 6);
  EXPECT_EQ(end, 11);
  rich->SetSel(3, 500);  // past the end: to the end
  EXPECT_EQ(edit->textCursor().selectedText(), QStringLiteral("lo world"));
  rich->SetSel(-1, 0);
  EXPECT_TRUE(edit->textCursor().selectedText().isEmpty());
  rich->SetText("new text");
  EXPECT_EQ(rich->GetText().utf8(), "new text");
}

TEST_F(UiTest, ListItemsFromTemplatesSelectAndReport) {
  auto* list = wnd_->FindAs<CListUI>("list");
  CDialogBuilder builder;
  CControlUI* item = builder.Create("<ListLabelElement height=\"22\"/>", &wnd_->GetPaintManager());
  ASSERT_NE(dynamic_cast<CListLabelElementUI*>(item), nullptr);
  item->SetText("Racing");
  EXPECT_TRUE(list->Add(item));
  ASSERT_EQ(list->GetCount(), 3);
  auto* widget = static_cast<QListWidget*>(list->GetWidget());
  EXPECT_EQ(widget->item(2)->text(), QStringLiteral("Racing"));
  item->SetText("Racing 2");  // follows the item
  EXPECT_EQ(widget->item(2)->text(), QStringLiteral("Racing 2"));
  EXPECT_FALSE(list->Add(new CButtonUI));  // text items only
  EXPECT_EQ(list->GetCount(), 3);

  EXPECT_TRUE(list->SelectItem(2, false, false));
  EXPECT_EQ(list->GetCurSel(), 2);
  list->EnsureVisible(2);
  EXPECT_TRUE(wnd_->TakeSeen().empty());
  QRect row0 = widget->visualItemRect(widget->item(0));
  QTest::mouseClick(widget->viewport(), Qt::LeftButton, {}, row0.center());
  auto seen = wnd_->TakeSeen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ((std::tuple(seen[0].type, seen[0].sender, seen[0].wParam, seen[0].lParam)),
            std::tuple("itemselect", "list", 0u, 2));
  EXPECT_TRUE(list->RemoveAt(0));
  EXPECT_EQ(widget->count(), 2);
  EXPECT_EQ(widget->item(0)->text(), QStringLiteral("Office"));
  EXPECT_FALSE(list->SelectItem(5));

  // Combo items: the user's choice reports, code's does not.
  auto* combo = wnd_->FindAs<CComboUI>("combo");
  EXPECT_TRUE(combo->SelectItem(1, false, false));
  EXPECT_TRUE(wnd_->TakeSeen().empty());
  QTest::keyClick(combo->GetWidget(), Qt::Key_Up);
  seen = wnd_->TakeSeen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ((std::tuple(seen[0].where, seen[0].type, seen[0].wParam)), std::tuple("page", "itemselect", 0u));
  EXPECT_EQ(combo->GetCurSel(), 0);
}

TEST_F(UiTest, ColorPaletteReportsTheColourSetAndTheUsersPick) {
  auto* palette = wnd_->FindAs<CColorPaletteUI>("palette");
  palette->SetSelectColor(0xFF123456);
  EXPECT_EQ(palette->GetSelectColor(), 0xFF123456u);
  palette->SetSelectColor(0x00808080);  // alpha reported as opaque
  EXPECT_EQ(palette->GetSelectColor(), 0xFF808080u);
  palette->SetSelectColor(0xFF0000FF);  // pure blue: hue 240
  EXPECT_TRUE(wnd_->TakeSeen().empty());
  QWidget* w = palette->GetWidget();
  QTest::mousePress(w, Qt::LeftButton, {}, QPoint(w->width() - 1, 0));  // full saturation and value
  QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(w->width() - 1, 0));
  auto seen = wnd_->TakeSeen();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ((std::tuple(seen[0].type, seen[0].sender)), std::tuple("colorchanged", "palette"));
  EXPECT_EQ(seen[1].type, "colorchangedbuttonup");
  EXPECT_EQ(palette->GetSelectColor(), 0xFF0000FFu);  // the hue kept
  QTest::mousePress(w, Qt::LeftButton, {}, QPoint(0, w->height() - 10));  // white end of the bar... hue 0
  EXPECT_EQ(palette->GetSelectColor(), 0xFFFF0000u);
  QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(0, w->height() - 10));
}

TEST_F(UiTest, ControlTimersFireInVirtualTimeUntilKilled) {
  UseVirtualClock();
  CControlUI* label = wnd_->Find("label");
  auto& pm = wnd_->GetPaintManager();
  ASSERT_TRUE(pm.SetTimer(label, 7, 100));
  AdvanceClock(99);
  EXPECT_TRUE(wnd_->TakeSeen().empty());
  AdvanceClock(1);
  auto seen = wnd_->TakeSeen();
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ((std::tuple(seen[0].type, seen[0].sender, seen[0].wParam)), std::tuple("timer", "label", 7u));
  AdvanceClock(200);
  EXPECT_EQ(wnd_->TakeSeen().size(), 2u);
  EXPECT_TRUE(pm.KillTimer(label, 7));
  AdvanceClock(1000);
  EXPECT_TRUE(wnd_->TakeSeen().empty());
  // A control that leaves the tree takes its timers with it.
  auto* list = wnd_->FindAs<CListUI>("list");
  ASSERT_TRUE(pm.SetTimer(list->GetItemAt(0), 1, 50));
  list->RemoveAt(0);
  AdvanceClock(200);
  EXPECT_TRUE(wnd_->TakeSeen().empty());
  UseRealClock();
}

TEST_F(UiTest, MessagesPostedFromAnotherThreadArriveOnTheUiThreadInOrder) {
  HWND hwnd = wnd_->GetHWND();
  constexpr int kCount = 2000;
  std::thread poster([hwnd] {
    for (int i = 0; i < kCount; ++i) ::PostMessageW(hwnd, WM_USER + 5, WPARAM(i), 0);
  });
  ASSERT_TRUE(SpinUntil([&] { return wnd_->messages.size() >= size_t(kCount); }));
  poster.join();
  for (int i = 0; i < kCount; ++i) ASSERT_EQ(wnd_->messages[size_t(i)].second, WPARAM(i));
  for (DWORD t : wnd_->message_threads) ASSERT_EQ(t, GetCurrentThreadId());
  // A send from another thread waits for the UI thread's answer.
  std::thread sender([hwnd] { ::SendMessageW(hwnd, WM_USER + 6, 42, 0); });
  ASSERT_TRUE(SpinUntil([&] { return wnd_->messages.size() == size_t(kCount) + 1; }));
  sender.join();
  EXPECT_EQ(wnd_->messages.back(), std::make_pair(UINT(WM_USER + 6), WPARAM(42)));
}

class Dialog : public WindowImplBase {
 public:
  bool final_seen = false;

 protected:
  const char16_t* GetWindowClassName() const override { return u"TestDialog"; }
  CDuiString GetSkinFile() override {
    return "<Window size=\"200,100\"><HorizontalLayout><Button name=\"ok\" text=\"OK\"/>"
           "<Button name=\"cancel\" text=\"Cancel\"/></HorizontalLayout></Window>";
  }
  void OnClick(TNotifyUI& msg) override { Close(msg.pSender->GetName().utf8() == "ok" ? 1 : 0); }
  void OnFinalMessage(HWND) override { final_seen = true; }
};

TEST_F(UiTest, ShowModalReturnsTheValueGivenToClose) {
  {
    Dialog dlg;
    dlg.Create(wnd_->GetHWND(), "dlg", WS_POPUP, WS_EX_TOOLWINDOW);
    QTimer::singleShot(0, [&] { dlg.Close(7); });
    EXPECT_EQ(dlg.ShowModal(), 7u);
    EXPECT_TRUE(dlg.final_seen);
    EXPECT_EQ(dlg.GetHWND(), nullptr);
  }
  for (auto [button, expected] : {std::pair("ok", 1u), std::pair("cancel", 0u)}) {
    Dialog dlg;
    dlg.Create(wnd_->GetHWND(), "dlg", WS_POPUP, WS_EX_TOOLWINDOW);
    QTimer::singleShot(0, [&, b = button] {
      QTest::mouseClick(dlg.GetPaintManager().FindControl(b)->GetWidget(), Qt::LeftButton);
    });
    EXPECT_EQ(dlg.ShowModal(), expected) << button;
  }
  // Destroying a dialog that was never shown is quiet.
  Dialog unused;
  unused.Create(wnd_->GetHWND(), "dlg", WS_POPUP, 0);
}

TEST_F(UiTest, MenuChoiceIsReportedToTheOwnerByName) {
  struct MenuOwner : TestWnd {
    std::vector<std::string> chosen;
    LRESULT HandleCustomMessage(UINT msg, WPARAM wParam, LPARAM, BOOL& handled) override {
      if (msg == WM_MENUCLICK) {
        auto* cmd = reinterpret_cast<MenuCmd*>(wParam);
        chosen.push_back(cmd->szName.utf8());
        CPaintManagerUI::DeletePtr(cmd);
        handled = TRUE;
      }
      return 0;
    }
  } owner;
  owner.Create(nullptr, "owner", WS_POPUP, 0);
  CMenuWnd menu;
  ASSERT_TRUE(menu.Init(nullptr, "menu.xml", POINT{30, 40}, &owner.GetPaintManager()));
  menu.ResizeMenu();
  QMenu* q = menu.GetMenuUI();
  ASSERT_NE(q, nullptr);
  QStringList texts;
  for (QAction* a : q->actions()) texts << a->text();
  EXPECT_EQ(texts, (QStringList{"Configuration", "", "Exit"}));
  q->findChild<QAction*>(QStringLiteral("exit"))->trigger();
  ASSERT_TRUE(SpinUntil([&] { return !owner.chosen.empty(); }));
  EXPECT_EQ(owner.chosen, std::vector<std::string>{"exit"});
  CMenuWnd bad;
  EXPECT_FALSE(bad.Init(nullptr, "missing_menu.xml", POINT{0, 0}, &owner.GetPaintManager()));
}

TEST_F(UiTest, LanguageKeysResolveAndReloadAndMissingKeysShowTheKey) {
  EXPECT_EQ(wnd_->Find("title")->GetText().utf8(), "Test window");
  EXPECT_EQ(wnd_->Find("missing_key")->GetText().utf8(), "no_such_key");
  EXPECT_EQ(CResourceManager::GetInstance()->GetText("check_text").utf8(), "Enabled");
  EXPECT_EQ(CResourceManager::GetInstance()->GetText("nope_text").utf8(), "nope_text");
  auto* combo = static_cast<QComboBox*>(wnd_->Find("combo")->GetWidget());
  EXPECT_EQ(combo->itemText(0), QStringLiteral("Item A"));

  ASSERT_TRUE(CResourceManager::GetInstance()->LoadLanguage("lan_other.xml"));
  EXPECT_EQ(wnd_->Find("title")->GetText().utf8(), "Other title");  // controls follow
  EXPECT_EQ(combo->itemText(0), QStringLiteral("item_a_text"));      // key the file lacks
  // A broken file leaves the language as it was.
  EXPECT_FALSE(CResourceManager::GetInstance()->LoadLanguage("<Language><Text key=\"a\""));
  EXPECT_FALSE(CResourceManager::GetInstance()->LoadLanguage("missing.xml"));
  EXPECT_EQ(CResourceManager::GetInstance()->GetText("title_text").utf8(), "Other title");
  ASSERT_TRUE(CResourceManager::GetInstance()->LoadLanguage("lan.xml"));
  EXPECT_EQ(wnd_->Find("title")->GetText().utf8(), "Test window");
}

// Counts the style changes each widget receives while a window is built.
class StyleChangeCounter : public QObject {
 public:
  std::map<QObject*, int> changes;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::StyleChange) ++changes[watched];
    return false;
  }
};

// A window's tree goes into the window before its branches are made: a branch re-parented
// after it was built is restyled widget by widget, which made the main window slow to open.
// Also when the layout's root is an <Include>.
TEST(UiBuilder, AWindowsTreeIsBuiltInPlaceAndEachControlStyledOnce) {
  for (const char* skin : {"main.xml", "include_root.xml"}) {
    SCOPED_TRACE(skin);
    StyleChangeCounter counter;
    qApp->installEventFilter(&counter);
    TestWnd wnd{CDuiString(skin)};
    ASSERT_TRUE(wnd.Create(nullptr, "test", WS_POPUP, 0));
    qApp->removeEventFilter(&counter);
    for (const char* name : {"caption", "title", "button", "edit", "combo", "slider"}) {
      CControlUI* control = wnd.Find(name);
      ASSERT_NE(control, nullptr) << name;
      EXPECT_EQ(control->GetWidget()->window(), wnd.GetWidget()) << name;
      EXPECT_EQ(counter.changes[control->GetWidget()], 1) << name;
    }
  }
}

// Controls are found by name through an index of the window: after each change of the tree
// it answers as a walk would, the first in tree order, and never with a control that is gone.
TEST_F(UiTest, FindingByNameFollowsRenamesAdditionsAndRemovals) {
  auto* root = wnd_->FindAs<CContainerUI>("root");
  ASSERT_NE(root, nullptr);
  CControlUI* label = wnd_->Find("label");
  ASSERT_NE(label, nullptr);
  struct Step {
    const char* what;
    std::function<void()> change;
    const char* name;
    std::function<CControlUI*()> expected;
  };
  CControlUI* added = nullptr;
  const Step steps[] = {
      {"renamed", [&] { label->SetName("caption2"); }, "label", [] { return nullptr; }},
      {"found by its new name", [] {}, "caption2", [&] { return label; }},
      {"a namesake added first wins", [&] { added = new CLabelUI; added->SetName("caption2"); root->AddAt(added, 0); },
       "caption2", [&] { return added; }},
      {"the namesake removed", [&] { root->Remove(added); }, "caption2", [&] { return label; }},
      {"the original removed", [&] { label->GetParent() == root ? root->Remove(label) : static_cast<CContainerUI*>(label->GetParent())->Remove(label); },
       "caption2", [] { return nullptr; }},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.what);
    s.change();
    EXPECT_EQ(wnd_->Find(s.name), s.expected());
  }
}

TEST(UiBuilder, BadLayoutsGiveNullOrSkipWhatTheyCannotBuild) {
  CDialogBuilder b;
  EXPECT_EQ(b.Create("no_such_layout.xml"), nullptr);
  EXPECT_NE(b.error().find("no_such_layout.xml"), std::string::npos);
  EXPECT_EQ(b.Create("<VerticalLayout><Button name=\"a\">"), nullptr);  // not well formed
  EXPECT_FALSE(b.error().empty());
  EXPECT_EQ(b.Create("<Window size=\"10,10\"></Window>"), nullptr);
  std::unique_ptr<CControlUI> tree(b.Create(
      "<VerticalLayout><Gadget name=\"g\"/><Button name=\"b\" width=\"abc\" bkcolor=\"#zz\"/>"
      "<Include source=\"missing.xml\"/></VerticalLayout>"));
  ASSERT_NE(tree, nullptr);
  auto* c = static_cast<CContainerUI*>(tree.get());
  EXPECT_EQ(c->GetCount(), 1);  // the unknown kind and the missing include are left out
  EXPECT_EQ(c->GetItemAt(0)->GetName().utf8(), "b");
  EXPECT_EQ(c->GetItemAt(0)->GetBkColor(), 0u);
  // An include that includes itself stops.
  std::unique_ptr<CControlUI> loop(b.Create("self_include.xml"));
  EXPECT_NE(loop, nullptr);
}

// Layout files are read at each build, not kept: a file changed between two builds (or a
// language file loaded again) gives the new controls, not the tree read the first time.
TEST(UiBuilder, EachBuildReadsTheFileAsItIsNow) {
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  const QString file = dir.filePath("row.xml");
  auto write = [&](const char* text) {
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text);
  };
  CDialogBuilder b;
  write("<HorizontalLayout><Button name=\"first\"/></HorizontalLayout>");
  std::unique_ptr<CControlUI> one(b.Create(CDuiString(file)));
  write("<HorizontalLayout><Label name=\"second\"/><Label name=\"third\"/></HorizontalLayout>");
  std::unique_ptr<CControlUI> two(b.Create(CDuiString(file)));
  ASSERT_NE(one, nullptr);
  ASSERT_NE(two, nullptr);
  EXPECT_EQ(static_cast<CContainerUI*>(one.get())->GetCount(), 1);
  auto* row = static_cast<CContainerUI*>(two.get());
  ASSERT_EQ(row->GetCount(), 2);
  EXPECT_EQ(row->GetItemAt(1)->GetName().utf8(), "third");
  // A byte that is not UTF-8 (a Latin-1 "\xc4") costs only its character, not the file.
  write("<HorizontalLayout><Label name=\"caption\" text=\"\xc4rger\"/></HorizontalLayout>");
  std::unique_ptr<CControlUI> three(b.Create(CDuiString(file)));
  ASSERT_NE(three, nullptr) << b.error();
  EXPECT_EQ(static_cast<CContainerUI*>(three.get())->GetItemAt(0)->GetText().str(), u"\ufffdrger");
}

TEST(UiString, FormatsAndComparesWithoutRegardToCase) {
  CDuiString s;
  s.Format(u"%s_%d", u"Game", 2);
  EXPECT_EQ(s.utf8(), "Game_2");
  EXPECT_EQ(CDuiString("ÄRGER").CompareNoCase(u"ärger"), 0);
  EXPECT_NE(CDuiString("Game").Compare(u"game"), 0);
  EXPECT_EQ(CDuiString("ms_1_btn").Left(4).utf8(), "ms_1");
}

}  // namespace
}  // namespace brevak::testing

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return brevak::test::RunWindowTests(BREVAK_UI_TEST_RES, "offscreen");
}
