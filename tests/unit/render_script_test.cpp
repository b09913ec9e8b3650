// The headless renderer's script language: what parses, and what is refused with its line number.
#include <gtest/gtest.h>

#include <string>
#include <variant>
#include <vector>

#include "tools/render_script.h"

namespace tonvarel {
namespace {

using Kind = ScriptCommand::Kind;

std::vector<ScriptCommand> commands(const std::string& text) {
  auto parsed = parseScript(text);
  if (auto* e = std::get_if<ScriptError>(&parsed)) {
    ADD_FAILURE() << "line " << e->line << ": " << e->message;
    return {};
  }
  return std::get<std::vector<ScriptCommand>>(parsed);
}

TEST(RenderScript, ParsesEveryCommandSkippingBlanksAndComments) {
  const auto c = commands(
      "# a demo\r\n\n  move 1 2\nldown 192 192\r\nlup 0 0\n\trdown 5 6\nrup 7 8\n"
      "render 12\nload /tmp/a file.wav  \nsave /tmp/out/take.wav\n   # indented comment\n"
      "snap on\nsnap\toff \ndefault\nframes 127\nsnap  minor-pentatonic\tF#\nvoice 9\n");
  ASSERT_EQ(c.size(), 14u);
  EXPECT_EQ(c[0].kind, Kind::kMove);
  EXPECT_EQ(c[0].x, 1);
  EXPECT_EQ(c[0].y, 2);
  EXPECT_EQ(c[0].line, 3);
  EXPECT_EQ(c[1].kind, Kind::kLeftDown);
  EXPECT_EQ(c[2].kind, Kind::kLeftUp);
  EXPECT_EQ(c[3].kind, Kind::kRightDown);
  EXPECT_EQ(c[4].kind, Kind::kRightUp);
  EXPECT_EQ(c[5].kind, Kind::kRender);
  EXPECT_EQ(c[5].frames, 12u * 1500);
  EXPECT_EQ(c[6].path, "/tmp/a file.wav");
  EXPECT_EQ(c[7].kind, Kind::kSave);
  EXPECT_EQ(c[7].line, 10);
  EXPECT_EQ(c[8].kind, Kind::kSnap);
  ASSERT_TRUE(c[8].snap);
  EXPECT_EQ(c[8].snap->scale, pad::Scale::kChromatic);
  EXPECT_EQ(c[8].snap->key, 0);
  EXPECT_EQ(c[9].kind, Kind::kSnap);
  EXPECT_FALSE(c[9].snap);
  EXPECT_EQ(c[10].kind, Kind::kDefault);
  EXPECT_EQ(c[11].kind, Kind::kRender);
  EXPECT_EQ(c[11].frames, 127u);
  ASSERT_TRUE(c[12].snap);
  EXPECT_EQ(c[12].snap->scale, pad::Scale::kMinorPentatonic);
  EXPECT_EQ(c[12].snap->key, 6);
  EXPECT_EQ(c[13].kind, Kind::kVoice);
  EXPECT_EQ(c[13].voice, 9);
}

TEST(RenderScript, MidiTakesOneChannelMessageInHexadecimal) {
  const auto c = commands("midi 90 3c 7F\nmidi c5 00\n  midi\tEF 7f 00 \nmidi d0 40\n");
  ASSERT_EQ(c.size(), 4u);
  const std::vector<std::vector<uint8_t>> expected{
      {0x90, 0x3C, 0x7F}, {0xC5, 0x00}, {0xEF, 0x7F, 0x00}, {0xD0, 0x40}};
  for (size_t i = 0; i < c.size(); ++i) {
    EXPECT_EQ(c[i].kind, Kind::kMidi);
    EXPECT_EQ(std::vector<uint8_t>(c[i].midi.begin(), c[i].midi.begin() + c[i].midiLength),
              expected[i]);
  }
}

TEST(RenderScript, NegativeCoordinatesArriveAsSixteenBitValues) {
  const auto c = commands("move -1 65535\n");
  ASSERT_EQ(c.size(), 1u);
  EXPECT_EQ(c[0].x, 65535);
  EXPECT_EQ(c[0].y, 65535);
}

TEST(RenderScript, ParsesTheLoopAndPlaybackControlsAndRefusesTheirMalformedForms) {
  const auto c = commands(
      "loop\nloop stop\nloop\tundo \nloop clear\nloop save  /tmp/a loop.wav \ntake play\n"
      "take  stop\n");
  const Kind kinds[] = {Kind::kLoop,     Kind::kLoopStop, Kind::kLoopUndo, Kind::kLoopClear,
                        Kind::kLoopSave, Kind::kTakePlay, Kind::kTakeStop};
  ASSERT_EQ(c.size(), std::size(kinds));
  for (size_t i = 0; i < c.size(); ++i) {
    EXPECT_EQ(c[i].kind, kinds[i]) << i;
    EXPECT_EQ(c[i].line, static_cast<int>(i) + 1);
  }
  EXPECT_EQ(c[4].path, "/tmp/a loop.wav");

  for (const char* text :
       {"render 1\nloop go\n", "render 1\nloop stop now\n", "render 1\nloop save\n",
        "render 1\nloop save \t\n", "render 1\ntake\n", "render 1\ntake loop\n",
        "render 1\ntake play 2\n", "render 1\nLoop\n"}) {
    SCOPED_TRACE(text);
    auto parsed = parseScript(text);
    ASSERT_TRUE(std::holds_alternative<ScriptError>(parsed));
    EXPECT_EQ(std::get<ScriptError>(parsed).line, 2);
  }
}

TEST(RenderScript, RefusesMalformedLinesNamingTheLine) {
  struct Case {
    std::string text;
    int line;
  };
  const Case cases[] = {
      {"render 1\nplay 3 4\n", 2},
      {"move 1\n", 1},
      {"move\n", 1},
      {"move 1 2 3\n", 1},
      {"ldown x 2\n", 1},
      {"ldown 1.5 2\n", 1},
      {"move 70000 2\n", 1},
      {"\n\nrender -1\n", 3},
      {"render\n", 1},
      {"render 10 blocks\n", 1},
      {"load\n", 1},
      {"save    \n", 1},
      {"save /" + std::string(259, 'a') + "\n", 1},
      {"render 700000\nrender 700000\n", 2},
      {"frames 1073741814\nframes 1\n", 2},
      {"frames\n", 1},
      {"frames -1\n", 1},
      {"frames 1e3\n", 1},
      {"render 1\nsnap\n", 2},
      {"snap yes\n", 1},
      {"snap ON\n", 1},
      {"snap on off\n", 1},
      {"snap major\n", 1},
      {"render 1\nsnap dorian D\n", 2},
      {"snap major Db\n", 1},
      {"snap major d\n", 1},
      {"snap blues C extra\n", 1},
      {"default 440\n", 1},
      {"voice 10\n", 1},
      {"voice -1\n", 1},
      {"render 1\nvoice x\n", 2},
      {"voice\n", 1},
      {"voice 1 2\n", 1},
      {"midi\n", 1},
      {"midi 90\n", 1},
      {"midi 90 3C\n", 1},
      {"midi 90 3C 40 00\n", 1},
      {"midi C0 05 00\n", 1},
      {"midi D0 05 00\n", 1},
      {"midi E0 00\n", 1},
      {"render 1\nmidi 3C 40\n", 2},
      {"midi F8\n", 1},
      {"midi F0 7E 7F\n", 1},
      {"midi 90 80 40\n", 1},
      {"midi B0 07 FF\n", 1},
      {"midi 90 3G 40\n", 1},
      {"midi 090 3C 40\n", 1},
      {"midi 0x90 3C 40\n", 1},
      {"midi 9 3C 40\n", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    auto parsed = parseScript(c.text);
    ASSERT_TRUE(std::holds_alternative<ScriptError>(parsed));
    EXPECT_EQ(std::get<ScriptError>(parsed).line, c.line);
    EXPECT_FALSE(std::get<ScriptError>(parsed).message.empty());
  }
}

}  // namespace
}  // namespace tonvarel
