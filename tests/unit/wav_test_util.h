// Helpers shared by the WAV file tests: building file images byte by byte, recording message
// boxes and answering choosers through FileAccess's hooks, and a scratch directory.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "wavfile/file_access.h"

namespace tonvarel::testing {

using Bytes = std::vector<uint8_t>;

inline void putU16(Bytes& b, uint32_t v) {
  b.push_back(static_cast<uint8_t>(v));
  b.push_back(static_cast<uint8_t>(v >> 8));
}
inline void putU32(Bytes& b, uint32_t v) {
  putU16(b, v & 0xFFFF);
  putU16(b, v >> 16);
}
inline void putTag(Bytes& b, const char* tag) {
  b.insert(b.end(), tag, tag + 4);
}

// A chunk exactly as given: the declared size need not match the bytes that follow.
inline Bytes chunk(const char* id, uint32_t declaredSize, const Bytes& data) {
  Bytes b;
  putTag(b, id);
  putU32(b, declaredSize);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}
inline Bytes chunk(const char* id, const Bytes& data) {
  return chunk(id, static_cast<uint32_t>(data.size()), data);
}

inline Bytes formatFields(uint16_t channels, uint32_t rate, uint16_t bits, uint16_t tag = 1) {
  Bytes b;
  putU16(b, tag);
  putU16(b, channels);
  putU32(b, rate);
  putU32(b, rate * channels * bits / 8);
  putU16(b, static_cast<uint16_t>(channels * bits / 8));
  putU16(b, bits);
  return b;
}

// "RIFF", its size (by default what follows it) and "WAVE", then the chunks.
inline Bytes riff(std::initializer_list<Bytes> chunks, std::optional<uint32_t> riffSize = {},
                  const char* form = "WAVE") {
  Bytes body;
  putTag(body, form);
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  Bytes b;
  putTag(b, "RIFF");
  putU32(b, riffSize.value_or(static_cast<uint32_t>(body.size())));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

inline Bytes wav(uint16_t channels, uint16_t bits, const Bytes& data, uint32_t rate = 44100) {
  return riff({chunk("fmt ", formatFields(channels, rate, bits)), chunk("data", data)});
}

inline Bytes samples16(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) putU16(b, static_cast<uint16_t>(v));
  return b;
}

inline int16_t sampleAt(const uint8_t* table, uint32_t i) {
  return static_cast<int16_t>(static_cast<uint16_t>(table[2 * i] | table[2 * i + 1] << 8));
}

struct Message {
  std::string text;
  std::optional<std::string> caption;  // none: the platform's default
  bool operator==(const Message&) const = default;
};

inline void PrintTo(const Message& m, std::ostream* os) {
  *os << (m.caption ? *m.caption : "<default>") << ": " << m.text;
}

// Stands in for the person at the screen: confirms choosers with `answer` (or cancels) and
// notes every message box. `duringMessage` / `duringChooser` run inside the box or chooser.
struct Desk {
  std::optional<std::string> answer;
  std::vector<Message> messages;
  std::vector<std::string> chooserStartedWith;
  std::vector<bool> chooserWasSave;
  std::function<void()> duringMessage;
  std::function<void()> duringChooser;

  void attach(FileAccess& files) {
    files.setMessageHook(
        [](void* self, const char* text, const char* caption) {
          auto* desk = static_cast<Desk*>(self);
          desk->messages.push_back(
              {text, caption ? std::optional<std::string>(caption) : std::nullopt});
          if (desk->duringMessage) desk->duringMessage();
        },
        this);
    files.setChooserHook(
        [](void* self, bool save, char* path) {
          auto* desk = static_cast<Desk*>(self);
          desk->chooserStartedWith.emplace_back(path);
          desk->chooserWasSave.push_back(save);
          if (desk->duringChooser) desk->duringChooser();
          if (!desk->answer) return false;
          std::strncpy(path, desk->answer->c_str(), kPathChars);
          return true;
        },
        this);
  }
};

// A fresh directory per test, removed with everything in it afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    std::string pattern = ::testing::TempDir() + "tonvarel-XXXXXX";
    if (mkdtemp(pattern.data()) != nullptr) path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

inline void writeFile(const std::string& path, const Bytes& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

inline std::optional<Bytes> readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace tonvarel::testing
