// The bindings file: what a save writes reads back the same (odd classes and names included),
// a rename and a delete follow the profile, and a damaged file is kept aside with its good lines.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "store/bindings_store.h"
#include "tests/store/store_test_util.h"

namespace brevak {
namespace {

namespace fs = std::filesystem;

class BindingStoreTest : public test::DataFolderTest {
 protected:
  void SetUp() override {
    DataFolderTest::SetUp();
    fs::create_directories(data_ / "ms_1");
  }
  fs::path File() const { return data_ / "ms_1" / kBindingsFileName; }
  void Write(const std::string& text) { std::ofstream(File(), std::ios::binary) << text; }
  std::string Read(const fs::path& p) const {
    std::ostringstream s;
    s << std::ifstream(p, std::ios::binary).rdbuf();
    return s.str();
  }
  BindingList Loaded() {
    BindingStore again(File());
    EXPECT_EQ(again.Load(), StoreLoad::kLoaded);
    return again.list();
  }
};

TEST_F(BindingStoreTest, OperationsAreSavedAndReadBack) {
  // Each step on a store, then the list a fresh load of the file must give.
  struct Step {
    const char* what;
    std::function<void(BindingStore&)> act;
    BindingList after;
  };
  const std::string odd = "#tab\there\\ and\nnew line";
  const Step steps[] = {
      {"bind", [](BindingStore& s) { EXPECT_EQ(s.Bind("steam_app_1", u"Game"), BindingStore::BindResult::kBound); },
       {{"steam_app_1", u"Game"}}},
      {"odd class and name",
       [&](BindingStore& s) { EXPECT_EQ(s.Bind(odd, u"Ärger\tX"), BindingStore::BindResult::kBound); },
       {{"steam_app_1", u"Game"}, {odd, u"Ärger\tX"}}},
      {"same class again, other case",
       [](BindingStore& s) { EXPECT_EQ(s.Bind("STEAM_APP_1", u"game"), BindingStore::BindResult::kAlreadyBound); },
       {{"steam_app_1", u"Game"}, {odd, u"Ärger\tX"}}},
      {"class moves to another profile",
       [](BindingStore& s) {
         std::u16string from;
         EXPECT_EQ(s.Bind("steam_app_1", u"Desk", &from), BindingStore::BindResult::kMoved);
         EXPECT_EQ(from, u"Game");
         s.Bind("xlogo", u"Desk");
       },
       {{"steam_app_1", u"Desk"}, {odd, u"Ärger\tX"}, {"xlogo", u"Desk"}}},
      {"rename follows", [](BindingStore& s) { s.RenameProfile(u"DESK", u"Office"); },
       {{"steam_app_1", u"Office"}, {odd, u"Ärger\tX"}, {"xlogo", u"Office"}}},
      {"unbind one", [](BindingStore& s) { EXPECT_TRUE(s.Unbind("XLOGO", u"office")); },
       {{"steam_app_1", u"Office"}, {odd, u"Ärger\tX"}}},
      {"unbind of another profile's class",
       [](BindingStore& s) { EXPECT_FALSE(s.Unbind("steam_app_1", u"Game")); },
       {{"steam_app_1", u"Office"}, {odd, u"Ärger\tX"}}},
      {"delete forgets", [](BindingStore& s) { s.ForgetProfile(u"office"); }, {{odd, u"Ärger\tX"}}},
      {"unknown profiles go", [](BindingStore& s) { s.KeepProfiles({u"Office"}); }, {}},
      {"refused class", [](BindingStore& s) { EXPECT_EQ(s.Bind("", u"Game"), BindingStore::BindResult::kInvalid); },
       {}},
  };
  BindingStore store(File());
  ASSERT_EQ(store.Load(), StoreLoad::kLoaded);
  for (const Step& step : steps) {
    SCOPED_TRACE(step.what);
    step.act(store);
    EXPECT_EQ(store.list(), step.after);
    EXPECT_EQ(Loaded(), step.after);
  }
}

TEST_F(BindingStoreTest, FindsByClassThenInstance) {
  BindingStore store(File());
  store.Bind("Xlogo", u"A");
  store.Bind("xeyes", u"B");
  ASSERT_NE(store.Find("xeyes", "XLogo"), nullptr);
  EXPECT_EQ(store.Find("xeyes", "XLogo")->profile, u"A");  // the class wins over the instance
  ASSERT_NE(store.Find("xeyes", "XEyes"), nullptr);
  EXPECT_EQ(store.Find("xeyes", "XEyes")->profile, u"B");
  EXPECT_EQ(store.Find("xterm", "XTerm"), nullptr);
}

TEST_F(BindingStoreTest, DamagedFileIsKeptAsideAndItsGoodLinesKept) {
  const std::string damaged =
      "# a comment\r\n"
      "good\tGame\r\n"
      "no tab here\n"
      "bad\\q escape\tGame\n"
      "\tno class\n"
      "GOOD\tSecond binding of a class\n"
      "\xff\xfe\tnot UTF-8 as a name is fine as a class\n"
      "name\t\xff\xfe\n"
      "last\tDesk";
  Write(damaged);
  BindingStore store(File());
  EXPECT_EQ(store.Load(), StoreLoad::kRepaired);
  const BindingList kept = {{"good", u"Game"}, {"\xff\xfe", u"not UTF-8 as a name is fine as a class"}, {"last", u"Desk"}};
  EXPECT_EQ(store.list(), kept);
  // The original as it was, under a name of its own; the file rewritten with what was kept.
  ASSERT_FALSE(store.damaged_copy().empty());
  EXPECT_EQ(Read(store.damaged_copy()), damaged);
  EXPECT_EQ(Loaded(), kept);
  const std::vector<StoreEvent> events = store.TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, StoreEventKind::kRepaired);
  EXPECT_EQ(events[0].kept_as, store.damaged_copy());
  EXPECT_NE(events[0].reason.find("line 3"), std::string::npos) << events[0].reason;
}

TEST_F(BindingStoreTest, UnreadableFileIsMovedAsideNotOverwritten) {
  fs::create_directory(File());  // a folder where the file should be
  BindingStore store(File());
  EXPECT_EQ(store.Load(), StoreLoad::kFirstRun);
  EXPECT_EQ(store.Bind("xlogo", u"Game"), BindingStore::BindResult::kBound);
  EXPECT_EQ(Loaded(), (BindingList{{"xlogo", u"Game"}}));
  const std::vector<StoreEvent> events = store.TakeEvents();
  ASSERT_EQ(events.size(), 1u);
  EXPECT_EQ(events[0].kind, StoreEventKind::kMovedAside);
  EXPECT_TRUE(fs::is_directory(events[0].kept_as));
}

}  // namespace
}  // namespace brevak
