// The browser edition's side of the module: the calls the audio worklet makes on the one engine
// that lives in its WebAssembly instance. The pad and the export are the window's own code;
// message boxes and the save chooser are answered through FileAccess's hooks. Loads are worked
// out on the page's own instance (load_bindings.cpp).
#include <emscripten/emscripten.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <vector>

#include "engine/looper.h"
#include "engine/take.h"
#include "engine/tone_table.h"
#include "engine/voice.h"
#include "instrument/chord.h"
#include "instrument/controls.h"
#include "instrument/pad.h"
#include "wavfile/file_access.h"
#include "wavfile/messages.h"  // UTF-8 here: the web build has no code page 932 texts
#include "wavfile/take_export.h"

namespace tonvarel {
namespace {

// The saves (the take's and the loop's) write here, in the module's in-memory file system, and the
// page downloads the bytes.
constexpr char kTakePath[] = "/take.wav";

FileAccess files;
char chosenSavePath[kPathChars];
// Where the worklet's frames are rendered: room for more than one render quantum, as a browser
// may hand out longer ones.
constexpr uint32_t kMaxFrames = 4096;
uint8_t frames[4 * kMaxFrames];
std::vector<uint8_t> savedFile;
// Pad events per voice and MIDI messages meet the voices here, as in the renderer.
Controls controls(engine);
// The take went round its 60 s at least once since it opened: what a save writes starts over.
bool takeWrapped = false;

// A message box becomes a dialog on the page; a null caption is the platform's default.
EM_JS(void, postMessageBox, (const char* text, const char* caption),
      { Module.showMessage(UTF8ToString(text), caption ? UTF8ToString(caption) : null); });

void showOnPage(void* /*context*/, const char* text, const char* caption) {
  postMessageBox(text, caption);
}

bool answerWithTakePath(void* /*context*/, bool /*save*/, char* path) {
  std::memcpy(path, kTakePath, sizeof kTakePath);
  return true;
}

// Reads back what the export wrote; nothing when it wrote nothing (an empty take).
void readSavedFile() {
  savedFile.clear();
  std::FILE* file = std::fopen(kTakePath, "rb");
  if (file == nullptr) return;
  uint8_t chunk[4096];
  size_t count;
  while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) {
    savedFile.insert(savedFile.end(), chunk, chunk + count);
  }
  std::fclose(file);
  std::remove(kTakePath);
}

}  // namespace
}  // namespace tonvarel

using namespace tonvarel;

extern "C" {

// The state the program has right after start-up. Returns where the worklet's frames are
// rendered, tv_max_frames() of them at most.
EMSCRIPTEN_KEEPALIVE const uint8_t* tv_start() {
  allocateTake(engine);
  buildDefaultTable(engine);
  allocateLooper(engine);  // tv_looper_available() and tv_playback_available() tell how it went
  allocatePlayback(engine);
  files.setMessageHook(showOnPage, nullptr);
  files.setChooserHook(answerWithTakePath, nullptr);
  return frames;
}
EMSCRIPTEN_KEEPALIVE uint32_t tv_max_frames() {
  return kMaxFrames;
}

// The next `count` frames (at most tv_max_frames()), continuing the current block. A take that
// comes out shorter than it went in wrapped.
EMSCRIPTEN_KEEPALIVE void tv_render_frames(uint32_t count) {
  const bool recording = engine.recording.load(std::memory_order_acquire);
  const uint32_t before = engine.takeLength.load(std::memory_order_relaxed);
  renderFrames(engine, frames, count < kMaxFrames ? count : kMaxFrames);
  if (recording && engine.takeLength.load(std::memory_order_relaxed) < before) takeWrapped = true;
}

EMSCRIPTEN_KEEPALIVE void tv_right_down() {
  pad::pressRight(engine);
}
EMSCRIPTEN_KEEPALIVE void tv_right_up() {
  pad::releaseRight(engine);
}

// Pointer events in the window's client coordinates, as the window's messages apply them, for
// voice k (0 to 9; the mouse's is 0), as the renderer's `voice K` addresses them. A voice that a
// MIDI note holds ignores them until the note ends. Each returns 1, or 0 for a voice out of
// range, which changes nothing.
EMSCRIPTEN_KEEPALIVE int tv_voice_move(int voice, int x, int y) {
  if (voice < 0 || voice >= kVoiceCount) return 0;
  controls.move(x, y, voice);
  return 1;
}
EMSCRIPTEN_KEEPALIVE int tv_voice_left_down(int voice, int x, int y) {
  if (voice < 0 || voice >= kVoiceCount) return 0;
  const bool recording = engine.recording.load(std::memory_order_relaxed);
  controls.leftDown(x, y, voice);
  if (!recording && engine.recording.load(std::memory_order_relaxed)) takeWrapped = false;
  return 1;
}
EMSCRIPTEN_KEEPALIVE int tv_voice_left_up(int voice) {
  if (voice < 0 || voice >= kVoiceCount) return 0;
  controls.leftUp(voice);
  return 1;
}

// One MIDI channel message as Web MIDI hands it over: `count` bytes (2 or 3), status first; a
// 2-byte message's data2 is not read. Returns 1 when it is taken (messages nothing here uses,
// such as aftertouch, included), 0 for bytes that are not one whole channel message (a system
// message, a data byte of 80 or more, the wrong length, a value past a byte), which change
// nothing. The page's log writes it as the renderer's `midi HH HH [HH]`.
EMSCRIPTEN_KEEPALIVE int tv_midi(int status, int data1, int data2, int count) {
  const int given[] = {status, data1, data2};
  if (count < 2 || count > 3) return 0;
  uint8_t message[3];
  for (int i = 0; i < count; ++i) {
    if (given[i] < 0 || given[i] > 0xFF) return 0;
    message[i] = static_cast<uint8_t>(given[i]);
  }
  const bool recording = engine.recording.load(std::memory_order_relaxed);
  const bool taken = controls.midi(std::span<const uint8_t>(message, count));
  if (!recording && engine.recording.load(std::memory_order_relaxed)) takeWrapped = false;
  return taken ? 1 : 0;
}

// The voices MIDI notes hold, bit k for voice k: the page's fingers take other voices, and its
// markers show these as notes.
EMSCRIPTEN_KEEPALIVE int tv_note_voices() {
  int voices = 0;
  for (int k = 0; k < kVoiceCount; ++k) {
    if (controls.notes().holds(k)) voices |= 1 << k;
  }
  return voices;
}
// The note holding voice k, as channel * 128 + key (the channel 0 to 15); -1 when none does or k
// is out of range.
EMSCRIPTEN_KEEPALIVE int tv_voice_note(int voice) {
  if (voice < 0 || voice >= kVoiceCount) return -1;
  return controls.notes().noteOf(voice);
}
// The pitch voice k is given, in Hz, while its gate is open (a finger's or a note's, bend
// included), for the readout; 0 while it is silent or k is out of range.
EMSCRIPTEN_KEEPALIVE float tv_voice_pitch(int voice) {
  if (voice < 0 || voice >= kVoiceCount) return 0.0f;
  const Voice& v = engine.voices[voice];
  return v.gate.load(std::memory_order_relaxed) ? v.targetPitch.load(std::memory_order_relaxed)
                                                : 0.0f;
}
// The vibrato depth voice k is given while its gate is open (a finger's column, a note's mod
// wheel), for placing its marker; 0 while it is silent or k is out of range.
EMSCRIPTEN_KEEPALIVE float tv_voice_depth(int voice) {
  if (voice < 0 || voice >= kVoiceCount) return 0.0f;
  const Voice& v = engine.voices[voice];
  return v.gate.load(std::memory_order_relaxed) ? v.vibratoDepth.load(std::memory_order_relaxed)
                                                : 0.0f;
}

// The snap setting, from the next position the pad receives: scale -1 is off (the key is then
// ignored), 0 to 6 the scales in pad::Scale's order (0 is every semitone), key the root's
// semitones above C (0 to 11). Returns 1, or 0 for a scale or key out of range, which leaves the
// setting as it was. The page calls it on its own instance too, so that what it shows follows
// the same setting.
EMSCRIPTEN_KEEPALIVE int tv_snap(int scale, int key) {
  if (scale == -1) {
    pad::setSnap(engine, std::nullopt);
    return 1;
  }
  if (scale < 0 || scale >= pad::kScaleCount || key < 0 || key >= pad::kKeyCount) return 0;
  pad::setSnap(engine, pad::Snap{static_cast<pad::Scale>(scale), key});
  return 1;
}

// A scale's degrees, for the page's note guides: bit d set when the note d semitones above the
// root belongs to it (0 for a scale out of range).
EMSCRIPTEN_KEEPALIVE int tv_scale_mask(int scale) {
  if (scale < 0 || scale >= pad::kScaleCount) return 0;
  return pad::scaleDegrees(static_cast<pad::Scale>(scale));
}

// The note row y sounds under the current setting, in semitones from A4 (with snap off, the
// semitone nearest to its pitch), for naming it; a row outside the pad gives -128, no note.
EMSCRIPTEN_KEEPALIVE int tv_snapped_note(int y) {
  constexpr int kNoNote = -128;
  if (y <= 0 || y >= pad::kSize) return kNoNote;
  return pad::noteFor(engine, y);
}

// The built-in tone comes back.
EMSCRIPTEN_KEEPALIVE void tv_builtin() {
  returnToDefaultTable(engine);
}

// A file whose bytes the worklet could not take into memory: said as the importer says it, and
// the built-in tone comes back, as the message promises.
EMSCRIPTEN_KEEPALIVE void tv_out_of_memory() {
  postMessageBox(text::kOutOfMemory, text::kOutOfMemoryCaption);
  returnToDefaultTable(engine);
}

// The save command. Returns the file's length (0: nothing was written); its bytes are at
// tv_saved_bytes() until the next save.
EMSCRIPTEN_KEEPALIVE uint32_t tv_save() {
  std::remove(kTakePath);
  exportTake(engine, files, chosenSavePath);
  readSavedFile();
  return static_cast<uint32_t>(savedFile.size());
}
EMSCRIPTEN_KEEPALIVE const uint8_t* tv_saved_bytes() {
  return savedFile.data();
}

// The take: open or not, its bytes as a save would write them, and whether it wrapped.
EMSCRIPTEN_KEEPALIVE int tv_take_recording() {
  return engine.recording.load(std::memory_order_relaxed) ? 1 : 0;
}
EMSCRIPTEN_KEEPALIVE const uint8_t* tv_take_bytes() {
  return takeBytes(engine).bytes;
}
EMSCRIPTEN_KEEPALIVE uint32_t tv_take_length() {
  return takeBytes(engine).length;
}
EMSCRIPTEN_KEEPALIVE int tv_take_wrapped() {
  return takeWrapped ? 1 : 0;
}

// The looper and the take's playback. Their storage is taken by tv_start(); 1 when it could be
// had, 0 when not (the page then offers no looper, or no playback: every control does nothing).
EMSCRIPTEN_KEEPALIVE int tv_looper_available() {
  return hasLooper(engine) ? 1 : 0;
}
EMSCRIPTEN_KEEPALIVE int tv_playback_available() {
  return hasPlayback(engine) ? 1 : 0;
}

// The loop's controls, applied at the next frame: the loop button (record, play, overdub, play
// again), stop, undo the last overdub, clear.
EMSCRIPTEN_KEEPALIVE void tv_loop() {
  loopControl(engine);
}
EMSCRIPTEN_KEEPALIVE void tv_loop_stop() {
  loopStop(engine);
}
EMSCRIPTEN_KEEPALIVE void tv_loop_undo() {
  loopUndo(engine);
}
EMSCRIPTEN_KEEPALIVE void tv_loop_clear() {
  loopClear(engine);
}

// The looper's state: 0 empty, 1 recording, 2 playing, 3 overdubbing, 4 stopped; the sample the
// next frame plays (while recording, the samples recorded so far); the loop's length in samples
// (0 until the first layer is recorded); 1 when undo would bring back the loop as the last
// overdub found it.
EMSCRIPTEN_KEEPALIVE int tv_loop_state() {
  return static_cast<int>(engine.looper.state);
}
EMSCRIPTEN_KEEPALIVE uint32_t tv_loop_position() {
  return engine.looper.position;
}
EMSCRIPTEN_KEEPALIVE uint32_t tv_loop_length() {
  return engine.looper.length;
}
EMSCRIPTEN_KEEPALIVE int tv_loop_undoable() {
  return engine.looper.undoable ? 1 : 0;
}

// The loop's samples as `loop save` writes them after its header (16-bit little-endian, from 0 to
// its length; while the first layer records, what it holds so far), for drawing: their address
// (aligned) and their length in bytes, 0 while the loop is empty.
EMSCRIPTEN_KEEPALIVE const uint8_t* tv_loop_bytes() {
  return loopBytes(engine).bytes;
}
EMSCRIPTEN_KEEPALIVE uint32_t tv_loop_byte_length() {
  return loopBytes(engine).length;
}

// `loop save`: the loop as a WAV file, by the take's save rules and messages. Returns the file's
// length (0: nothing was written); its bytes are at tv_saved_bytes() until the next save.
EMSCRIPTEN_KEEPALIVE uint32_t tv_loop_save() {
  std::remove(kTakePath);
  exportLoop(engine, files, chosenSavePath);
  readSavedFile();
  return static_cast<uint32_t>(savedFile.size());
}

// The take played back through the engine, from a copy made now, at the next frame (again while
// it plays: from its start, with a fresh copy); stop ends it; 1 while it plays.
EMSCRIPTEN_KEEPALIVE void tv_take_play() {
  playTake(engine);
}
EMSCRIPTEN_KEEPALIVE void tv_take_stop() {
  stopTake(engine);
}
EMSCRIPTEN_KEEPALIVE int tv_take_playing() {
  return takePlaying(engine) ? 1 : 0;
}

// The pitch of the block a voice plays while its key is on, 0 while it is off: what the take's
// drawing follows.
EMSCRIPTEN_KEEPALIVE float tv_sounding_pitch(int voice) {
  const Voice& v = engine.voices[voice];
  return v.gate.load(std::memory_order_relaxed) ? v.currentPitch : 0.0f;
}
EMSCRIPTEN_KEEPALIVE int tv_voice_count() {
  return kVoiceCount;
}

// What the sounding notes make together: the page writes up to tv_voice_count() MIDI note numbers
// at tv_chord_notes() and asks tv_chord(count), which answers the chord's kind (chord::Kind's
// order), its root note and, for an interval, its semitones, as kind | root << 8 | semitones << 16.
EMSCRIPTEN_KEEPALIVE int* tv_chord_notes() {
  static int notes[kVoiceCount];
  return notes;
}
EMSCRIPTEN_KEEPALIVE int tv_chord(int count) {
  if (count < 0 || count > kVoiceCount) return 0;
  const chord::Chord c = chord::nameChord(std::span<const int>(tv_chord_notes(), count));
  return static_cast<int>(c.kind) | (c.root << 8) | (c.semitones << 16);
}

// Whether a scale's key names black keys as flats (1) or sharps (0); scale and key as tv_snap's.
EMSCRIPTEN_KEEPALIVE int tv_spelled_with_flats(int scale, int key) {
  if (scale < 0 || scale >= pad::kScaleCount || key < 0 || key >= pad::kKeyCount) return 0;
  return chord::spelledWithFlats({static_cast<pad::Scale>(scale), key}) ? 1 : 0;
}

// The active tone table, for its drawing: 16-bit samples, possibly at an odd address.
EMSCRIPTEN_KEEPALIVE const uint8_t* tv_table_bytes() {
  return engine.table.load(std::memory_order_relaxed);
}
EMSCRIPTEN_KEEPALIVE uint32_t tv_table_length() {
  return engine.tableLength.load(std::memory_order_relaxed);
}
EMSCRIPTEN_KEEPALIVE int tv_table_is_default() {
  const auto* table = engine.table.load(std::memory_order_relaxed);
  return table != nullptr && table == reinterpret_cast<const uint8_t*>(engine.defaultTable.get())
             ? 1
             : 0;
}

// What the pad gives a row and a column, for the page's readout (row and column as offsets;
// a row outside the pad, which the pad never accepts, gives 0).
EMSCRIPTEN_KEEPALIVE float tv_pitch_for(int y) {
  if (y <= 0 || y >= pad::kSize) return 0.0f;
  return pad::targetPitchFor(engine, y);
}
EMSCRIPTEN_KEEPALIVE float tv_depth_for(int x) {
  return pad::depthForOffset(x);
}

// The pad's geometry and its semitone scale, for drawing.
EMSCRIPTEN_KEEPALIVE int tv_tick_count() {
  return pad::kTickCount;
}
EMSCRIPTEN_KEEPALIVE int tv_tick_row(int i) {
  return pad::scaleTicks()[i].row;
}
EMSCRIPTEN_KEEPALIVE int tv_tick_from_x(int i) {
  return pad::scaleTicks()[i].fromX;
}
EMSCRIPTEN_KEEPALIVE int tv_tick_to_x(int i) {
  return pad::scaleTicks()[i].toX;
}
EMSCRIPTEN_KEEPALIVE int tv_pad_origin_x() {
  return pad::kOriginX;
}
EMSCRIPTEN_KEEPALIVE int tv_pad_origin_y() {
  return pad::kOriginY;
}
EMSCRIPTEN_KEEPALIVE int tv_pad_size() {
  return pad::kSize;
}

}  // extern "C"
