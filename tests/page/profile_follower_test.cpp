// The decision of a profile per program, on the virtual clock: which windows, held how long,
// with the program busy or not, switch to which profile, and how often.
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "page/profile_follower.h"
#include "platform/clock.h"
#include "platform/text.h"

namespace brevak {
namespace {

// The program as the follower sees it: profiles by name, bindings by class.
class FakeProgram : public FollowerHost {
 public:
  bool Busy() override { return busy; }
  std::u16string Selected() override { return selected; }
  std::u16string BoundProfile(const ActiveWindow& w) override {
    auto it = bindings.find(w.window_class);
    return it == bindings.end() ? u"" : it->second;
  }
  bool SwitchTo(const std::u16string& name) override {
    bool known = false;
    for (const auto& p : profiles) known |= EqualsNoCase(p, name);
    if (!known) return false;
    selected = name;
    switches.push_back(Utf16ToUtf8(name));
    return true;
  }

  std::vector<std::u16string> profiles = {u"Desk", u"Game", u"Other"};
  std::map<std::string, std::u16string> bindings = {{"Game", u"Game"}, {"Mixed", u"GAME"}, {"Lost", u"Deleted"}};
  std::u16string selected = u"Desk";
  bool busy = false;
  std::vector<std::string> switches;
};

// One step of a scenario: something happens, then the clock moves on by `then_ms`.
struct Step {
  enum Kind { kActivate, kOurs, kBusy, kIdle, kHandPicks, kRename, kDelete } kind;
  std::string arg;  // a window class, a profile name
  int then_ms;
};

struct Case {
  const char* name;
  std::vector<Step> steps;
  std::vector<std::string> switches;  // what was written, in order
};

const Case kCases[] = {
    {"a bound window held a second gets its profile, another brings back the hand choice",
     {{Step::kActivate, "Game", 1000}, {Step::kActivate, "Term", 1000}},
     {"Game", "Desk"}},
    {"held for less than the moment: nothing", {{Step::kActivate, "Game", 999}}, {}},
    {"the class is matched ignoring case of the profile", {{Step::kActivate, "Mixed", 1000}}, {"GAME"}},
    {"ten activations within a second write once, for the last",
     {{Step::kActivate, "Game", 90}, {Step::kActivate, "Term", 90}, {Step::kActivate, "Game", 90},
      {Step::kActivate, "Term", 90}, {Step::kActivate, "Game", 90}, {Step::kActivate, "Term", 90},
      {Step::kActivate, "Game", 90}, {Step::kActivate, "Term", 90}, {Step::kActivate, "Game", 90},
      {Step::kActivate, "Game", 3000}},
     {"Game"}},
    {"a storm that ends where it began writes nothing",
     {{Step::kActivate, "Game", 100}, {Step::kActivate, "Term", 100}, {Step::kActivate, "Game", 100},
      {Step::kActivate, "Term", 3000}},
     {}},
    {"our own window changes nothing",
     {{Step::kActivate, "Game", 1000}, {Step::kOurs, "", 5000}},
     {"Game"}},
    {"busy (a dialog, a write): the switch waits and comes after",
     {{Step::kBusy, "", 0}, {Step::kActivate, "Game", 5000}, {Step::kIdle, "", 300}},
     {"Game"}},
    {"busy then the window left before the end: nothing",
     {{Step::kBusy, "", 0}, {Step::kActivate, "Game", 1500}, {Step::kActivate, "Term", 10}, {Step::kIdle, "", 3000}},
     {}},
    {"a profile picked by hand while bound is the new hand choice",
     {{Step::kActivate, "Game", 1000}, {Step::kHandPicks, "Other", 0}, {Step::kActivate, "Term", 1000}},
     {"Game"}},  // Other is selected and is the hand choice: nothing to write
    {"back to the hand choice after the game's profile was picked by hand",
     {{Step::kHandPicks, "Other", 0}, {Step::kActivate, "Game", 1000}, {Step::kActivate, "Term", 1000}},
     {"Game", "Other"}},
    {"the hand choice follows a rename",
     {{Step::kActivate, "Game", 1000}, {Step::kRename, "Desk", 0}, {Step::kActivate, "Term", 1000}},
     {"Game", "Desk2"}},
    {"a deleted hand choice: the profile selected stays",
     {{Step::kActivate, "Game", 1000}, {Step::kDelete, "Desk", 0}, {Step::kActivate, "Term", 1000}},
     {"Game"}},
    {"a binding to a profile that is gone switches nothing", {{Step::kActivate, "Lost", 2000}}, {}},
};

class ProfileFollowerTest : public ::testing::TestWithParam<Case> {
 protected:
  void SetUp() override { UseVirtualClock(); }
  void TearDown() override { UseRealClock(); }
};

TEST_P(ProfileFollowerTest, Switches) {
  FakeProgram program;
  ProfileFollower follower(program);
  for (const Step& s : GetParam().steps) {
    switch (s.kind) {
      case Step::kActivate: follower.Activated({"instance", s.arg, false}); break;
      case Step::kOurs: follower.Activated({"brevak", "BREVAK", true}); break;
      case Step::kBusy: program.busy = true; break;
      case Step::kIdle: program.busy = false; break;
      case Step::kHandPicks: program.selected = Utf8ToUtf16(s.arg); break;
      case Step::kRename: {
        const std::u16string from = Utf8ToUtf16(s.arg), to = from + u"2";
        for (auto& p : program.profiles) {
          if (p == from) p = to;
        }
        if (program.selected == from) program.selected = to;
        follower.Renamed(from, to);
        break;
      }
      case Step::kDelete: std::erase(program.profiles, Utf8ToUtf16(s.arg)); break;
    }
    AdvanceClock(s.then_ms);
  }
  EXPECT_EQ(program.switches, GetParam().switches);
}

std::string CaseName(const ::testing::TestParamInfo<Case>& c) { return "case" + std::to_string(c.index); }
INSTANTIATE_TEST_SUITE_P(Scenarios, ProfileFollowerTest, ::testing::ValuesIn(kCases), CaseName);

}  // namespace
}  // namespace brevak
