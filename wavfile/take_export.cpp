// Saving the take or the loop as a 44,100 Hz 16-bit mono WAV file: the 44-byte header, then the
// samples as they lie in their buffer, from its start.
#include "wavfile/take_export.h"

#include "engine/looper.h"
#include "engine/take.h"
#include "wavfile/messages.h"
#include "wavfile/wav_header.h"

namespace tonvarel {
namespace {

using SampleSource = TakeBytes (*)(const EngineState&);

void exportSamples(EngineState& state, FileAccess& files, char* path, SampleSource samples) {
  FileCommand command(files);
  if (!command.running()) return;

  if (!files.chooseSave(path)) return;
  if (samples(state).length == 0) return;  // nothing recorded: nothing created, nothing said
  if (!files.createForWriteMakingDirs(path, 0)) return;  // "death" has been shown

  // The take may still be growing (right button held): the header and the data agree on the
  // length read here.
  const TakeBytes take = samples(state);
  const auto header = pcmHeader(1, take.length);
  bool written =
      files.write(header.data(), kWavHeaderBytes, 0) && files.lastTransferred() == kWavHeaderBytes;
  // A take that restarted meanwhile can be empty here: the header alone is a whole file then.
  if (written && take.length != 0) {
    written = files.write(take.bytes, take.length, 0) && files.lastTransferred() == take.length;
  }
  files.close(0);
  if (written) {
    files.showMessage(text::kSaved, text::kSavedCaption);
  } else {
    files.showMessage(text::kDeath, nullptr);
  }
}

}  // namespace

void exportTake(EngineState& state, FileAccess& files, char* path) {
  exportSamples(state, files, path, takeBytes);
}

void exportLoop(EngineState& state, FileAccess& files, char* path) {
  exportSamples(state, files, path, loopBytes);
}

}  // namespace tonvarel
