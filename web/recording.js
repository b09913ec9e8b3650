// A voice of your own from a recording: one in a file, in any format the browser decodes (AAC or
// M4A, MP3, Ogg, Opus, FLAC, WAV of any depth and rate), mixed to mono and resampled to the
// sound's rate by the browser, or one from the microphone. The page's own module instance makes
// the loop of whole periods tuned to 440 Hz that `tonvarel-voice` makes, as a WAV file image.

const LONGEST_SECONDS = 600;  // what the module takes (kVoiceMaxSeconds)
const TOO_LONG = 6;  // the module's VoiceStatus for it
export const OUT_OF_MEMORY = 7;

// The module makes the loop of `samples` (floats, full scale 1.0) recorded at `rate`: { bytes }
// of the WAV file image, or { status } with the module's VoiceStatus when none was made.
export function makeVoice(m, samples, rate) {
  const at = m._tv_voice_input(samples.length) >>> 0;
  if (at === 0) return { status: OUT_OF_MEMORY };
  new Float32Array(m.HEAPU8.buffer, at, samples.length).set(samples);
  const status = m._tv_voice_make(samples.length, rate);
  m._tv_voice_input(0);  // the recording's room is given back
  if (status !== 0) return { status };
  const from = m._tv_voice_wav_bytes() >>> 0;
  return { bytes: m.HEAPU8.slice(from, from + m._tv_voice_wav_length()).buffer };
}

// A file's sound as one channel at `rate`: { samples }, or { problem } of 'memory' (it cannot be
// read into memory), 'decode' (the browser cannot decode it) or a VoiceStatus (too long).
export async function decodeRecording(file, rate) {
  let encoded;
  try {
    encoded = await file.arrayBuffer();
  } catch (error) {
    console.info('the recording could not be read into memory:', error);
    return { problem: 'memory' };
  }
  let sound;
  try {
    // An offline context decodes without sound running, at the rate asked for.
    sound = await new OfflineAudioContext(1, 1, rate).decodeAudioData(encoded);
  } catch (error) {
    console.info('the recording could not be decoded:', error);
    return { problem: error?.name === 'RangeError' ? 'memory' : 'decode' };
  }
  if (sound.duration > LONGEST_SECONDS) return { problem: TOO_LONG };
  try {
    const samples = new Float32Array(sound.length);
    const channels = sound.numberOfChannels;
    for (let c = 0; c < channels; c++) {
      const data = sound.getChannelData(c);
      for (let i = 0; i < samples.length; i++) samples[i] += data[i];
    }
    if (channels > 1) for (let i = 0; i < samples.length; i++) samples[i] /= channels;
    return { samples };
  } catch (error) {
    console.info('no room for the recording:', error);
    return { problem: 'memory' };
  }
}
