// The protocol reference, executed. Every exchange in the ```frames blocks of
// docs/host-protocol.md is played, in the order of the document, against one
// fresh virtual register set up as the document says (device key, card,
// clock), and each reply must match the document byte for byte. The day with
// fr-host runs as written, from a fresh virtual register to a closed shift
// with an empty drawer.
//
// FR_DOC_UPDATE=1 writes the replies the register gave into the document
// instead of comparing (for a maintainer who changed an example's request).
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "host/client.h"
#include "host/host_line.h"
#include "host/protocol.h"
#include "tools/emu/emulator.h"
#include "tools/common/device_process.h"
#include "tools/sim/rig.h"
#include "documents/tlv_element.h"
#include "util/coding.h"
#include "util/cp866.h"

namespace {

namespace fs = std::filesystem;

const std::string kDoc = std::string(FR_SOURCE_DIR) + "/docs/host-protocol.md";
// The register of the examples, as the document introduces it.
const std::string kKey("\x00\x11\x22\x33\x44\x55\x66\x77\x88\x99\xAA\xBB\xCC\xDD\xEE\xFF", 16);
constexpr int64_t kFreeBytes = int64_t{1} << 30;
constexpr int kReplyMillis = 10000;
constexpr size_t kBytesPerLine = 24;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) out.push_back(line);
  return out;
}

bool IsHexByte(const std::string& t) {
  return t.size() == 2 && isxdigit(static_cast<unsigned char>(t[0])) && isxdigit(static_cast<unsigned char>(t[1]));
}

// The bytes at the start of `text` ("04 05 00 ..."), up to the first word that
// is not two hex digits (the rest is a comment).
std::string HexBytes(const std::string& text) {
  std::istringstream in(text);
  std::string out;
  for (std::string t; in >> t && IsHexByte(t);) out.push_back(static_cast<char>(std::stoi(t, nullptr, 16)));
  return out;
}

// One step of an example: what the host sends, what the register must answer,
// or a change of the register's clock or printer.
struct Step {
  enum Kind { kSend, kReply, kClock, kPrinter } kind;
  size_t first, last;  // lines of the document (0-based) it takes
  std::string bytes;   // kSend, kReply
  int64_t clock = 0;
  std::string printer;

  Step(Kind k, size_t line, std::string b = std::string()) : kind(k), first(line), last(line), bytes(std::move(b)) {}
};

// "YYYY-MM-DD HH:MM:SS" as UTC seconds.
bool ParseUtc(const std::string& text, int64_t* t) {
  struct tm tm = {};
  const char* end = strptime(text.c_str(), "%Y-%m-%d %H:%M:%S", &tm);
  if (end == nullptr) return false;
  *t = timegm(&tm);
  return true;
}

std::vector<Step> Examples(const std::vector<std::string>& doc) {
  std::vector<Step> steps;
  bool in_block = false;
  for (size_t i = 0; i < doc.size(); ++i) {
    const std::string& line = doc[i];
    if (line.compare(0, 3, "```") == 0) {
      in_block = !in_block && line == "```frames";
      continue;
    }
    if (!in_block) continue;
    if (line.compare(0, 3, "-> ") == 0 || line.compare(0, 3, "<- ") == 0) {
      steps.emplace_back(line[0] == '-' ? Step::kSend : Step::kReply, i, HexBytes(line.substr(3)));
    } else if (!line.empty() && line[0] == ' ' && !steps.empty() &&
               (steps.back().kind == Step::kSend || steps.back().kind == Step::kReply) && steps.back().last + 1 == i) {
      steps.back().bytes += HexBytes(line);  // a long frame goes on
      steps.back().last = i;
    } else if (line.compare(0, 6, "clock ") == 0) {
      Step s(Step::kClock, i);
      EXPECT_TRUE(ParseUtc(line.substr(6), &s.clock)) << "line " << i + 1 << ": " << line;
      steps.push_back(s);
    } else if (line.compare(0, 8, "printer ") == 0) {
      Step s(Step::kPrinter, i);
      s.printer = line.substr(8);
      steps.push_back(s);
    }
  }
  return steps;
}

// A reply as the document writes it, wrapped under its arrow.
std::vector<std::string> ReplyLines(const std::string& bytes) {
  std::vector<std::string> out;
  for (size_t at = 0; at < bytes.size(); at += kBytesPerLine)
    out.push_back((at == 0 ? "<- " : "   ") + util::HexSpaced(bytes.substr(at, kBytesPerLine)));
  return out;
}

TEST(ProtocolDocTest, EveryExampleIsWhatTheRegisterAnswers) {
  std::ifstream in(kDoc);
  ASSERT_TRUE(in) << kDoc;
  std::vector<std::string> doc = Lines(std::string(std::istreambuf_iterator<char>(in), {}));
  const std::vector<Step> steps = Examples(doc);
  ASSERT_GT(steps.size(), 20u);
  ASSERT_EQ(Step::kClock, steps[0].kind) << "the examples start by setting the clock";
  const bool update = getenv("FR_DOC_UPDATE") != nullptr;

  setenv("TZ", "UTC", 1);  // local times (the archive number's date) as the document's
  sim::Rig rig(FR_CORE_PATH);
  ASSERT_TRUE(rig.Prepare());
  std::string eeprom(sim::Sandbox::kEepromSize, '\xFF');
  eeprom.replace(4080, kKey.size(), kKey);
  ASSERT_TRUE(rig.sandbox().WriteEeprom(eeprom) && rig.sandbox().SetFreeBytes(kFreeBytes) &&
              rig.sandbox().SetFixedClock(steps[0].clock));
  ASSERT_TRUE(rig.Start());  // requests wait in the line until it serves

  struct Edit {
    size_t at, erase;
    std::vector<std::string> lines;
  };
  std::vector<Edit> edits;  // update mode
  for (size_t i = 0; i < steps.size(); ++i) {
    const Step& s = steps[i];
    const std::string where = "docs/host-protocol.md:" + std::to_string(s.first + 1);
    switch (s.kind) {
      case Step::kClock:
        ASSERT_TRUE(rig.sandbox().SetFixedClock(s.clock)) << where;
        break;
      case Step::kPrinter: {
        int status = 0;
        ASSERT_TRUE(emu::PrinterStatusFor(s.printer, &status)) << where;
        rig.printer().set_status(status);
        break;
      }
      case Step::kSend:
        ASSERT_FALSE(s.bytes.empty()) << where;
        ASSERT_TRUE(rig.host().Send(s.bytes)) << where;
        if (update && (i + 1 == steps.size() || steps[i + 1].kind != Step::kReply)) {
          host::Reply r;
          ASSERT_TRUE(rig.host().ReadReply(&r, kReplyMillis)) << where << ": no reply";
          edits.push_back({s.last + 1, 0, ReplyLines(r.raw)});
        }
        break;
      case Step::kReply: {
        host::Reply r;
        const bool got = rig.host().ReadReply(&r, kReplyMillis);
        if (update) {
          ASSERT_TRUE(got) << where << ": no reply";
          edits.push_back({s.first, s.last - s.first + 1, ReplyLines(r.raw)});
          break;
        }
        EXPECT_TRUE(got) << where << ": no reply, or not a frame: " << util::HexSpaced(r.raw);
        EXPECT_EQ(util::HexSpaced(s.bytes), util::HexSpaced(r.raw)) << where;
        break;
      }
    }
  }
  EXPECT_EQ("", util::HexSpaced(rig.host().ReadRaw(1, 200))) << "a reply the document does not show";
  if (!update) return;
  for (auto it = edits.rbegin(); it != edits.rend(); ++it) {
    const auto at = doc.begin() + static_cast<long>(it->at);
    doc.insert(doc.erase(at, at + static_cast<long>(it->erase)), it->lines.begin(), it->lines.end());
  }
  std::ofstream out(kDoc);
  for (const std::string& line : doc) out << line << "\n";
}

// "1.500" as a quantity: places and mantissa.
Decimal DecimalText(const std::string& text) {
  const size_t dot = text.find('.');
  const std::string digits = dot == std::string::npos ? text : text.substr(0, dot) + text.substr(dot + 1);
  uint32_t scale = 1;
  for (size_t i = dot == std::string::npos ? 0 : text.size() - dot - 1; i > 0; --i) scale *= 10;
  return Decimal(scale, std::stoll(digits));
}

// The value encodings the document shows, each made by the register's own
// encoder: "amount 129.90  BE 32 ..." and so on, in ```encodings blocks.
TEST(ProtocolDocTest, EncodingExamplesAreTheRegistersOwn) {
  std::ifstream in(kDoc);
  ASSERT_TRUE(in) << kDoc;
  const std::vector<std::string> doc = Lines(std::string(std::istreambuf_iterator<char>(in), {}));
  bool in_block = false;
  int checked = 0;
  for (size_t i = 0; i < doc.size(); ++i) {
    if (doc[i].compare(0, 3, "```") == 0) {
      in_block = !in_block && doc[i] == "```encodings";
      continue;
    }
    if (!in_block || doc[i].empty()) continue;
    std::istringstream words(doc[i]);
    std::string kind, value, rest;
    words >> kind >> value;
    std::getline(words, rest);
    std::string made;
    if (kind == "amount") {
      made = util::Fixed64(static_cast<uint64_t>(DecimalText(value).mantissa()));
    } else if (kind == "text") {
      made = util::Utf8ToCp866(value);
    } else if (kind == "vln") {
      made = TlvElement::fromVln(0, std::stoll(value)).value();
    } else if (kind == "fvln") {
      made = TlvElement::fromFvln(0, DecimalText(value)).value();
    } else {
      ADD_FAILURE() << "docs/host-protocol.md:" << i + 1 << ": unknown encoding " << kind;
      continue;
    }
    EXPECT_EQ(util::HexSpaced(HexBytes(rest)), util::HexSpaced(made)) << "docs/host-protocol.md:" << i + 1 << ": " << value;
    ++checked;
  }
  EXPECT_GE(checked, 8);
}

// The ```sh block of "A day with fr-host", run as written by bash -e with the
// build's programs on PATH and FR_HOST_PORT on a fresh fr-emu.
TEST(ProtocolDocTest, TheDocumentedDayRunsAsWritten) {
  std::ifstream in(kDoc);
  ASSERT_TRUE(in) << kDoc;
  const std::vector<std::string> doc = Lines(std::string(std::istreambuf_iterator<char>(in), {}));
  std::string script;
  bool in_section = false, in_block = false;
  for (const std::string& line : doc) {
    if (line.compare(0, 3, "## ") == 0) in_section = line == "## A day with fr-host";
    if (!in_section) continue;
    if (line == "```sh" && script.empty()) {
      in_block = true;
    } else if (line == "```" && in_block) {
      break;
    } else if (in_block) {
      script += line + "\n";
    }
  }
  ASSERT_NE(std::string::npos, script.find("close-shift")) << "no day in the document";

  const std::string bin = fs::path(FR_CORE_PATH).parent_path().string();
  sim::Sandbox tmp = sim::Sandbox::Temp();
  const std::string dir = tmp.dir() + "/run";
  sim::DeviceProcess emu;
  ASSERT_TRUE(emu.Start(bin + "/fr-emu", {dir}, dir, tmp.dir() + "/emu"));
  ASSERT_TRUE(emu.WaitForStdout("host line: ", 10000)) << emu.Stderr();
  ASSERT_TRUE(tmp.WriteFile("/day.sh", script));
  const std::string path = getenv("PATH") != nullptr ? getenv("PATH") : "/usr/bin:/bin";
  setenv("PATH", (bin + ":" + path).c_str(), 1);
  setenv("FR_HOST_PORT", (dir + "/host").c_str(), 1);
  sim::DeviceProcess day;
  int status = -1;
  ASSERT_TRUE(day.Start("/bin/bash", {"-e", tmp.Path("/day.sh")}, dir, tmp.dir() + "/day"));
  const bool ended = day.Wait(180000, &status);
  setenv("PATH", path.c_str(), 1);
  unsetenv("FR_HOST_PORT");
  ASSERT_TRUE(ended) << "the day did not end";
  EXPECT_EQ(0, status) << day.Stdout() << day.Stderr();

  host::HostLine line;
  const host::Status opened = line.Open(dir + "/host");
  ASSERT_TRUE(opened.ok()) << opened.ToString();
  host::Client client(&line);
  const host::Answer a = client.Call(host::req::ShiftStatus());
  host::ShiftStatus shift;
  ASSERT_TRUE(a.ok() && host::DecodeShiftStatus(a.data, &shift)) << a.code << " " << a.error;
  EXPECT_FALSE(shift.open);
  EXPECT_GT(shift.shift, 0);
  EXPECT_EQ(0, shift.drawer);
}

}  // namespace
