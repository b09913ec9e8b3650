// Saving the take as a 44,100 Hz 16-bit mono WAV file: the 44-byte header, then the take's bytes
// as they lie in the take buffer, from its start.
#include "wavfile/take_export.h"

#include "engine/take.h"
#include "wavfile/messages.h"
#include "wavfile/wav_header.h"

namespace tonvarel {

void exportTake(EngineState& state, FileAccess& files, char* path) {
  FileCommand command(files);
  if (!command.running()) return;

  if (!files.chooseSave(path)) return;
  if (takeBytes(state).length == 0) return;  // nothing recorded: nothing created, nothing said
  if (!files.createForWriteMakingDirs(path, 0)) return;  // "death" has been shown

  // The take may still be growing (right button held): the header and the data agree on the
  // length read here.
  const TakeBytes take = takeBytes(state);
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

}  // namespace tonvarel
