// Helpers shared by the WAV file tests: file images built byte by byte, a stand-in for the
// person at the screen (through FileAccess's hooks), and a scratch directory.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

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
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
inline void putU32(Bytes& b, uint32_t v) {
  putU16(b, v);
  putU16(b, v >> 16);
}

// A chunk exactly as given: the declared size need not match the bytes that follow.
inline Bytes chunk(const char* id, uint32_t declaredSize, const Bytes& data) {
  Bytes b(id, id + 4);
  putU32(b, declaredSize);
  b.insert(b.end(), data.begin(), data.end());
  return b;
}
inline Bytes chunk(const char* id, const Bytes& data) {
  return chunk(id, static_cast<uint32_t>(data.size()), data);
}

inline Bytes fmt(uint16_t channels, uint16_t bits, uint32_t rate = 44100, uint16_t tag = 1) {
  Bytes b;
  putU16(b, tag), putU16(b, channels), putU32(b, rate), putU32(b, rate * channels * bits / 8);
  putU16(b, channels * bits / 8), putU16(b, bits);
  return chunk("fmt ", b);
}

// "RIFF", its size (by default what follows it), the form type, then the chunks.
inline Bytes riff(std::initializer_list<Bytes> chunks, std::optional<uint32_t> size = {},
                  const char* form = "WAVE") {
  Bytes body(form, form + 4);
  for (const Bytes& c : chunks) body.insert(body.end(), c.begin(), c.end());
  Bytes b = {'R', 'I', 'F', 'F'};
  putU32(b, size.value_or(static_cast<uint32_t>(body.size())));
  b.insert(b.end(), body.begin(), body.end());
  return b;
}

inline Bytes wav(uint16_t channels, uint16_t bits, const Bytes& data, uint32_t rate = 44100) {
  return riff({fmt(channels, bits, rate), chunk("data", data)});
}

inline Bytes pcm16(std::initializer_list<int> values) {
  Bytes b;
  for (int v : values) putU16(b, static_cast<uint16_t>(v));
  return b;
}

inline int16_t sampleAt(const uint8_t* table, uint32_t i) {
  return static_cast<int16_t>(table[2 * i] | table[2 * i + 1] << 8);
}

struct Message {
  std::string text;
  std::optional<std::string> caption;  // none: the platform's default
  bool operator==(const Message&) const = default;
};
inline void PrintTo(const Message& m, std::ostream* os) {
  *os << (m.caption ? *m.caption : "<default>") << ": " << m.text;
}

// Confirms choosers with `answer` (or cancels without one), notes where each chooser started
// and every message box, and runs `meanwhile` inside each box and chooser.
struct Desk {
  std::optional<std::string> answer;
  std::vector<std::string> choosersFrom;
  std::vector<Message> messages;
  std::function<void()> meanwhile;

  void attach(FileAccess& files) {
    files.setMessageHook(
        [](void* self, const char* text, const char* caption) {
          auto* desk = static_cast<Desk*>(self);
          desk->messages.push_back(
              {text, caption ? std::optional<std::string>(caption) : std::nullopt});
          if (desk->meanwhile) desk->meanwhile();
        },
        this);
    files.setChooserHook(
        [](void* self, bool, char* path) {
          auto* desk = static_cast<Desk*>(self);
          desk->choosersFrom.emplace_back(path);
          const std::optional<std::string> answer = desk->answer;
          if (desk->meanwhile) desk->meanwhile();
          if (answer) std::strncpy(path, answer->c_str(), kPathChars);
          return answer.has_value();
        },
        this);
  }
};

// A fresh directory per test, removed with everything in it afterwards.
class ScratchDir {
 public:
  ScratchDir() : path_(::testing::TempDir() + "tonvarel-XXXXXX") {
    if (mkdtemp(path_.data()) == nullptr) path_.clear();
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
