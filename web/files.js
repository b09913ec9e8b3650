// Files: the load command's picker and drops, which load a WAV file as the tone table; the
// picker of "make a voice from a recording", and drops of other sound files, which make a voice;
// the downloads of a saved take or a recorded voice.

// tonvarel-take-20261207-140512.wav, or tonvarel-voice-... for a voice, by the local time.
function fileName(what, now) {
  const two = (n) => String(n).padStart(2, '0');
  return `tonvarel-${what}-${now.getFullYear()}${two(now.getMonth() + 1)}${two(now.getDate())}-` +
         `${two(now.getHours())}${two(now.getMinutes())}${two(now.getSeconds())}.wav`;
}

export function download(bytes, what = 'take') {
  const url = URL.createObjectURL(new Blob([bytes], { type: 'audio/wav' }));
  const a = document.createElement('a');
  a.href = url;
  a.download = fileName(what, new Date());
  document.body.append(a);
  a.click();
  a.remove();
  setTimeout(() => URL.revokeObjectURL(url), 60_000);
}

const WAV_TYPES = ['audio/wav', 'audio/x-wav', 'audio/wave', 'audio/vnd.wave'];

// A WAV file by its first bytes (RIFF ... WAVE), its name or its type: a file called .wav that
// is none still goes to the load command, which says what it is not.
async function isWav(file) {
  if (/\.wave?$/i.test(file.name) || WAV_TYPES.includes(file.type)) return true;
  try {
    const head = new Uint8Array(await file.slice(0, 12).arrayBuffer());
    const text = String.fromCharCode(...head);
    return text.startsWith('RIFF') && text.slice(8) === 'WAVE';
  } catch {
    return false;
  }
}

// loadTable(file, time): the file as the tone table; makeVoice(file, time): a voice made of it.
export function listenToFiles({ picker, voicePicker, gesture, loadTable, makeVoice }) {
  const chosen = (input, take) => input.addEventListener('change', (e) => {
    const file = input.files[0];
    input.value = '';  // the same file can be chosen again
    if (file) take(file, e.timeStamp);
  });
  chosen(picker, loadTable);
  chosen(voicePicker, makeVoice);
  const hasFiles = (e) => e.dataTransfer && [...e.dataTransfer.types].includes('Files');
  document.addEventListener('dragover', (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    document.body.classList.add('dropping');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
  document.addEventListener('drop', async (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    document.body.classList.remove('dropping');
    const file = e.dataTransfer.files[0];
    if (!file) return;
    gesture();
    if (await isWav(file)) loadTable(file, e.timeStamp);
    else makeVoice(file, e.timeStamp);
  });
}
