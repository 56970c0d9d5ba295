// A request or an answer on the single-instance socket: any bytes, any length. What parses
// must encode back to itself, and its arguments go through the command parser unharmed.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <variant>
#include <vector>

#include "app/ctl/ctl_commands.h"
#include "app/ctl/ctl_wire.h"

using namespace brevak::ctl;

std::vector<std::vector<uint8_t>> FuzzSeeds() {
  std::vector<std::vector<uint8_t>> seeds;
  auto add = [&](const std::string& s) { seeds.emplace_back(s.begin(), s.end()); };
  add(EncodeRequest({"status"}));
  add(EncodeRequest({"--json", "switch", "Game"}));
  add(EncodeRequest({"button", "3", "shortcut", "ctrl+shift+s"}));
  add(EncodeRequest({"dpi", "2", "1600"}));
  add(EncodeRequest({"import", "/tmp/a.pro"}));
  add("BREVAK-CTL 2 7\nstatus");
  add("BREVAK-CTL 1 99999999\n");
  add(EncodeRecord(Tag::kProgress, "Writing lighting: 3 of 5") + EncodeRecord(Tag::kExit, "0"));
  return seeds;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view in(reinterpret_cast<const char*>(data), size);
  const ParsedRequest r = ParseRequest(in);
  if (r.state == Parse::kComplete) {
    if (r.consumed > size || r.args.empty() || r.args.size() > kMaxArguments) std::abort();
    const std::string again = EncodeRequest(r.args);
    if (again != in.substr(0, r.consumed)) std::abort();
    auto parsed = ParseArguments(r.args);
    if (auto* c = std::get_if<Command>(&parsed)) {
      // What the parser accepted, written back, reads as the same command.
      auto back = ParseArguments(ToArguments(*c));
      auto* c2 = std::get_if<Command>(&back);
      if (!c2 || c2->verb != c->verb || c2->operands != c->operands || c2->json != c->json) std::abort();
    } else if (std::get<Output>(parsed).code != kExitRefused) {
      std::abort();
    }
  } else if (r.consumed != 0 || !r.args.empty()) {
    std::abort();
  }
  const ParsedRecord rec = ParseRecord(in);
  if (rec.state == Parse::kComplete && EncodeRecord(rec.tag, rec.payload) != in.substr(0, rec.consumed)) std::abort();
  return 0;
}
