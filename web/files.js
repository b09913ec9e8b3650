// Files: the load command's picker and drops, which hand the file's bytes to the worklet, and
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

// send(event, time, transfer) posts to the worklet; tooLarge(time) says that a file could not be
// read into memory and brings the built-in tone back, as the message promises.
export function listenToFiles({ picker, send, gesture, tooLarge }) {
  const load = async (file, time) => {
    let bytes;
    try {
      bytes = await file.arrayBuffer();
    } catch (error) {
      console.info('the file could not be read into memory:', error);
      tooLarge(time);
      return;
    }
    send({ type: 'load', bytes, name: file.name }, time, [bytes]);
  };
  picker.addEventListener('change', (e) => {
    const file = picker.files[0];
    picker.value = '';  // the same file can be chosen again
    if (file) load(file, e.timeStamp);
  });
  const hasFiles = (e) => e.dataTransfer && [...e.dataTransfer.types].includes('Files');
  document.addEventListener('dragover', (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    document.body.classList.add('dropping');
  });
  document.addEventListener('dragleave', () => document.body.classList.remove('dropping'));
  document.addEventListener('drop', (e) => {
    if (!hasFiles(e)) return;
    e.preventDefault();
    document.body.classList.remove('dropping');
    const file = e.dataTransfer.files[0];
    if (file) {
      gesture();
      load(file, e.timeStamp);
    }
  });
}
