// The page's texts: the window's own Japanese texts, and English renderings of them for browsers
// that prefer another language. The file commands' message boxes come from the module as the
// Windows program's own texts (which tonvarel-render writes too); `explain` says them on the page
// as a player understands them, in the page's language: what is wrong and what can be done.

// The module's texts (wavfile/messages.h).
const module = {
  notRiff: 'not RIFF',
  notWave: 'not WAVE',
  chunkMissing: '目的のRIFFチャンクが無い',
  notMonoOrStereo: 'モノでもステレオでも無い\r\n現Verでは変換できない形式です',
  cannotConvert: '現Verでは変換できない形式です',
  saved: '処理終了',
  death: 'death',
  outOfMemory: 'ファイルが大きすぎてメモリに入りません。\r\n内蔵の440Hzの矩形波に戻します。',
  outOfMemoryCaption: 'メモリ不足',
};
const rateWarning = /^レートが(-?\d+)Hzです。\r\n44100Hzじゃないです。$/;
const groups = (n) => String(n).replace(/\B(?=(\d{3})+(?!\d))/g, ',');

export const texts = {
  ja: {
    // Menu items: [text, accelerator, suffix]; the short labels of the narrow bar.
    file: ['ファイル', 'F'],
    load: ['wavファイルの読み込み', 'R'],
    save: ['wavファイルへの書き出し', 'W'],
    builtin: ['内蔵の音に戻す', 'B'],
    mic: ['声を録音', 'V'],
    voiceFile: ['録音ファイルから声を作る', 'M'],
    help: ['ヘルプ', 'H'],
    about: ['バージョン情報', 'A', '...'],
    short: { load: '読込', save: '書出', builtin: '内蔵音', mic: '声', voiceFile: '取込',
             about: '情報', play: '再生', stop: '停止', snap: 'そろえる' },
    play: '録音を再生',
    stop: '再生を停止',
    snap: '音階にそろえる',
    // The looper: [label, short label]; the loop button's first three say what its next press
    // does.
    looper: {
      name: 'ループ',
      record: ['ループを録音', '録音'],
      play: ['ループを再生', '再生'],
      overdub: ['重ね録り', '重ね録り'],
      stop: ['停止', '停止'],
      undo: ['取り消し', '取消'],
      clear: ['消去', '消去'],
      save: ['ループを保存', 'ループ保存'],
      // The loop's state, named in its title.
      states: { empty: '空', recording: '録音中', playing: '再生中', overdub: '重ね録り中',
                stopped: '停止中' },
      confirm: { caption: 'ループを消去', clear: '消去する', cancel: 'やめる',
                 text: 'ループを消去しますか？録音した音はすべて消え、元に戻せません。' },
      lost: { caption: 'ループが消えました',
              text: '音声エンジンが起動し直したため、ループは失われました。もう一度録音してください。' },
      unavailable: { caption: 'ループは使えません',
                     text: 'メモリが足りないため、このページではループを使えません。' +
                           'ほかの機能はそのまま使えます。' },
    },
    scale: '音階',
    key: 'キー',
    scales: ['半音階', '長音階', '自然短音階', 'メジャー・ペンタトニック', 'マイナー・ペンタトニック',
             'ブルース', '全音音階'],
    keys: ['ハ (C)', '嬰ハ (C♯)', 'ニ (D)', '嬰ニ (D♯)', 'ホ (E)', 'ヘ (F)', '嬰ヘ (F♯)', 'ト (G)',
           '嬰ト (G♯)', 'イ (A)', '嬰イ (A♯)', 'ロ (B)'],
    aboutCaption: 'バージョン情報',
    aboutVersion: 'Tonvarel Vers 1.0',
    aboutLine: 'A pitch-pad sound toy, 2026',
    ok: 'OK',
    defaultCaption: 'エラー',
    pad: 'ピッチパッド。上下の矢印キーで半音ずつ、左右でビブラート。スペースを押す間だけ音が出て、' +
         'シフトを押す間は録音が続きます。',
    hint: {
      start: '最初にパッドをクリックかタッチすると音が出るようになります。',
      suspended: 'ブラウザが音を止めました。パッドをクリックかタッチすると再開します。',
      worklet: '音声エンジンが止まりました。パッドをクリックかタッチすると起動し直します。',
      rate: 'この端末は44100Hzで動いていないので、音程がずれます。',
    },
    cents: 'セント',
    vibrato: 'ビブラート',
    none: 'なし',
    voice: '音色',
    builtInName: '内蔵の440Hz矩形波',
    take: '録音',
    noTake: 'まだありません',
    voiceName: '声',
    saveVoice: '声を保存',
    micCaption: '声を録音',
    micText: '一つの音を伸ばして、歌うか口笛で吹いてください。5秒で止まります。',
    micStop: '止める',
    micProblems: {
      insecure: 'このページは安全な接続(https)で開かれていないので、マイクを使えません。',
      unsupported: 'このブラウザはマイクから録音できません。',
      refused: 'マイクの使用が許可されませんでした。音色はそのままです。',
      missing: 'マイクが見つかりません。',
      failed: 'マイクを開けませんでした。',
    },
    micStatus: {
      1: '録音が短すぎます。音色はそのままです。',
      2: '何も聞こえませんでした。音色はそのままです。',
      3: '安定した音程が見つかりませんでした。一つの音を伸ばして歌ってください。音色はそのままです。',
      7: 'メモリが足りないため、録音から音色を作れませんでした。音色はそのままです。',
      other: '録音から音色を作れませんでした。音色はそのままです。',
    },
    wrapped: '満杯・先頭から上書き中',
    // Chords, in chord::Kind's order from kMajor: the symbol and the name after the root.
    chords: [['', 'メジャー'], ['m', 'マイナー'], ['dim', 'ディミニッシュ'], ['aug', 'オーギュメント'],
             ['sus2', 'サスツー'], ['sus4', 'サスフォー'], ['7', 'セブンス'],
             ['maj7', 'メジャー・セブンス'], ['m7', 'マイナー・セブンス']],
    // Intervals within an octave, by semitones: the symbol and the name; 12 is the octave.
    intervals: [['1', '完全1度'], ['短2', '短2度'], ['長2', '長2度'], ['短3', '短3度'],
                ['長3', '長3度'], ['完4', '完全4度'], ['増4', '増4度'], ['完5', '完全5度'],
                ['短6', '短6度'], ['長6', '長6度'], ['短7', '短7度'], ['長7', '長7度'],
                ['8', 'オクターブ']],
    chordName: (root, name) => `${root}${name}`,
    notesPlayed: (count) => `${count}音`,
    seconds: '秒',
    loading: (name) => `${name} を読み込んでいます…`,
    makingVoice: (name) => `${name} から声を作っています…`,
    voiceFrom: (name) => `${name} の声`,
    fileCaption: '録音ファイルから声を作る',
    fileStatus: {
      memory: 'ファイルが大きすぎてメモリに入りません。音色はそのままです。\n' +
              '一つの音を伸ばしたところだけを切り出した、短いファイルを選んでください。',
      decode: 'このブラウザはこのファイルを音として読めません。録音ではないか、' +
              'このブラウザが知らない形式です。音色はそのままです。\n' +
              'WAV、MP3、AAC(M4A)、Ogg、FLACの録音を選んでください。',
      1: '録音が短すぎます(0.2秒以上必要です)。音色はそのままです。',
      2: '録音に音が入っていません。音色はそのままです。',
      3: '安定した音程が見つかりませんでした。音色はそのままです。\n' +
         '一つの音(60〜1500Hz)を伸ばして歌うか、口笛か楽器で吹いた録音を選んでください。',
      6: '録音が10分を超えています。音色はそのままです。\n' +
         '一つの音を伸ばしたところだけを切り出してください。',
      other: '録音から音色を作れませんでした。音色はそのままです。',
    },
    // MIDI in and out: the command, its dialog and what it says when MIDI cannot be had.
    midi: {
      command: ['MIDI機器', 'D', '...'],
      short: 'MIDI',
      caption: 'MIDI機器',
      inputs: '入力(鍵盤など)',
      inputsNote: 'チェックを外した入力は鳴りません。',
      noInputs: 'MIDI入力が接続されていません。',
      output: '出力(パッドでシンセを鳴らす)',
      none: 'なし',
      modes: { mpe: 'MPE(チャンネル2〜16)', one: '1チャンネル(チャンネル1)' },
      mode: '出力のモード',
      problems: {
        insecure: 'このページは安全な接続(https)で開かれていないので、MIDIを使えません。',
        unsupported: 'このブラウザはMIDI機器を使えません。',
        refused: 'MIDIの使用が許可されませんでした。何も変わっていません。',
        failed: 'MIDIを開けませんでした。何も変わっていません。',
      },
    },
    said: {
      notWav: { caption: 'WAVファイルではありません',
                text: 'このファイルはWAVファイルではないので、音色として読み込めません。' +
                      '内蔵の440Hzの矩形波に戻します。\n' +
                      'MP3やAAC(M4A)などの録音は「ファイル → 録音ファイルから声を作る」で' +
                      '声にできます。' },
      notWave: { caption: 'WAVファイルではありません',
                 text: 'このファイルはRIFF形式ですが、WAVファイルではないので、音色として' +
                       '読み込めません。内蔵の440Hzの矩形波に戻します。' },
      chunkMissing: { caption: '読み込めないWAVファイルです',
                      text: 'このWAVファイルには形式か音のデータがありません。壊れているか、' +
                            '途中で切れているようです。内蔵の440Hzの矩形波に戻します。' },
      damaged: { caption: '読み込めないWAVファイルです',
                 text: 'このWAVファイルの形式が読めません。壊れているようです。' +
                       '内蔵の440Hzの矩形波に戻します。' },
      channels: (n) => ({
        caption: '読み込めないWAVファイルです',
        text: `${n > 2 ? `このWAVファイルは${n}チャンネルです。` : ''}` +
              '音色として読み込めるのはモノラルとステレオのWAVファイルだけです。' +
              '内蔵の440Hzの矩形波に戻します。\n' +
              '「ファイル → 録音ファイルから声を作る」なら声にできることがあります。',
      }),
      sampleSize: (bits, float) => ({
        caption: '読み込めないWAVファイルです',
        text: `${bits}ビット${float ? '浮動小数点' : ''}のサンプルは音色として読み込めません。` +
              '「ファイル → 録音ファイルから声を作る」で声にしてください。' +
              '内蔵の440Hzの矩形波に戻します。\n' +
              'そのまま音色になるのは8ビットと16ビットのWAVファイルです。',
      }),
      rate: (hz) => ({
        caption: '注意',
        text: (hz > 0 ? `このファイルは${groups(hz)}Hzで録音されています。音色としては` +
                        `44,100Hzで読むので、録音より${hz < 44100 ? '高く' : '低く'}聞こえます。\n`
                      : `このファイルの録音レート(${hz}Hz)はありえない値です。44,100Hzとして` +
                        '読みます。\n') +
              '録音の音の高さのまま使うには「ファイル → 録音ファイルから声を作る」で' +
              '声にしてください。',
      }),
      saved: { caption: '保存しました',
               text: '録音をWAVファイルとしてダウンロードフォルダに保存しました。' },
      notSaved: { caption: '保存できませんでした',
                  text: '録音を保存できませんでした。録音は残っているので、もう一度保存して' +
                        'ください。' },
      loopSaved: { caption: '保存しました',
                   text: 'ループをWAVファイルとしてダウンロードフォルダに保存しました。' },
      loopNotSaved: { caption: '保存できませんでした',
                      text: 'ループを保存できませんでした。ループは残っているので、もう一度保存' +
                            'してください。' },
      outOfMemory: { caption: 'メモリ不足',
                     text: 'ファイルが大きすぎてメモリに入りません。' +
                           '内蔵の440Hzの矩形波に戻します。\n短いファイルを選んでください。' },
    },
  },
  en: {
    file: ['File', 'F'],
    load: ['Read a wav file', 'R'],
    save: ['Write to a wav file', 'W'],
    builtin: ['Back to the built-in tone', 'B'],
    mic: ['Record a voice', 'V'],
    voiceFile: ['Make a voice from a recording', 'M'],
    help: ['Help', 'H'],
    about: ['Version information', 'A', '...'],
    short: { load: 'Load', save: 'Save', builtin: 'Built-in', mic: 'Voice', voiceFile: 'Import',
             about: 'About', play: 'Play', stop: 'Stop', snap: 'Snap' },
    play: 'Play the take',
    stop: 'Stop playing',
    snap: 'Snap to the scale',
    looper: {
      name: 'Loop',
      record: ['Record a loop', 'Record'],
      play: ['Play the loop', 'Play'],
      overdub: ['Overdub', 'Overdub'],
      stop: ['Stop', 'Stop'],
      undo: ['Undo', 'Undo'],
      clear: ['Clear', 'Clear'],
      save: ['Save loop', 'Save loop'],
      states: { empty: 'empty', recording: 'recording', playing: 'playing',
                overdub: 'overdubbing', stopped: 'stopped' },
      confirm: { caption: 'Clear the loop', clear: 'Clear', cancel: 'Keep it',
                 text: 'Clear the loop? Everything recorded in it goes and cannot be brought ' +
                       'back.' },
      lost: { caption: 'The loop was lost',
              text: 'The audio engine started again, and the loop it held was lost. Record a ' +
                    'new one.' },
      unavailable: { caption: 'No looper',
                     text: 'There is not enough memory for the looper, so this page offers ' +
                           'none. Everything else works as before.' },
    },
    scale: 'Scale',
    key: 'Key',
    scales: ['Chromatic', 'Major', 'Natural minor', 'Major pentatonic', 'Minor pentatonic',
             'Blues', 'Whole tone'],
    keys: ['C', 'C♯', 'D', 'D♯', 'E', 'F', 'F♯', 'G', 'G♯', 'A', 'A♯', 'B'],
    aboutCaption: 'Version information',
    aboutVersion: 'Tonvarel Vers 1.0',
    aboutLine: 'A pitch-pad sound toy, 2026',
    ok: 'OK',
    defaultCaption: 'Error',
    pad: 'Pitch pad. Up and Down arrows step by semitones, Left and Right add vibrato. ' +
         'Space sounds while held; Shift keeps the take open while held.',
    hint: {
      start: 'The sound starts with your first click or touch on the pad.',
      suspended: 'The browser paused the sound. Click or touch the pad to resume.',
      worklet: 'The audio engine stopped. Click or touch the pad to start it again.',
      rate: 'This device does not run at 44,100 Hz: the pitch will be off.',
    },
    cents: 'cents',
    vibrato: 'Vibrato',
    none: 'none',
    voice: 'Voice',
    builtInName: 'built-in 440 Hz square',
    take: 'Take',
    noTake: 'none yet',
    voiceName: 'voice',
    saveVoice: 'Save voice',
    micCaption: 'Record a voice',
    micText: 'Sing or whistle one steady note and hold it. Recording stops after 5 seconds.',
    micStop: 'Stop',
    micProblems: {
      insecure: 'The page is not open over a secure connection (https), so it cannot use the ' +
                'microphone.',
      unsupported: 'This browser cannot record from a microphone.',
      refused: 'The microphone was not allowed. The voice stays as it was.',
      missing: 'No microphone was found.',
      failed: 'The microphone could not be opened.',
    },
    micStatus: {
      1: 'The recording is too short. The voice stays as it was.',
      2: 'Nothing was heard. The voice stays as it was.',
      3: 'No steady pitch was found: sing or whistle one note and hold it. The voice stays as ' +
         'it was.',
      7: 'There was not enough memory to make a voice of the recording. The voice stays as it ' +
         'was.',
      other: 'No voice could be made of the recording. The voice stays as it was.',
    },
    wrapped: 'full, writing over its start',
    chords: [['', 'major'], ['m', 'minor'], ['dim', 'diminished'], ['aug', 'augmented'],
             ['sus2', 'sus2'], ['sus4', 'sus4'], ['7', 'dominant seventh'],
             ['maj7', 'major seventh'], ['m7', 'minor seventh']],
    intervals: [['P1', 'unison'], ['m2', 'minor second'], ['M2', 'major second'],
                ['m3', 'minor third'], ['M3', 'major third'], ['P4', 'perfect fourth'],
                ['TT', 'tritone'], ['P5', 'perfect fifth'], ['m6', 'minor sixth'],
                ['M6', 'major sixth'], ['m7', 'minor seventh'], ['M7', 'major seventh'],
                ['P8', 'octave']],
    chordName: (root, name) => `${root} ${name}`,
    notesPlayed: (count) => `${count} notes`,
    seconds: 's',
    loading: (name) => `Loading ${name}…`,
    makingVoice: (name) => `Making a voice from ${name}…`,
    voiceFrom: (name) => `voice from ${name}`,
    fileCaption: 'Make a voice from a recording',
    fileStatus: {
      memory: 'The file is too large for memory. The voice stays as it was.\n' +
              'Choose a shorter recording: a stretch of one held note is enough.',
      decode: 'This browser cannot read the file as sound: it is not a recording, or in a ' +
              'format this browser does not know. The voice stays as it was.\n' +
              'Choose a WAV, MP3, AAC (M4A), Ogg or FLAC recording.',
      1: 'The recording is too short (at least 0.2 s is needed). The voice stays as it was.',
      2: 'The recording is silent. The voice stays as it was.',
      3: 'No steady pitch was found in the recording. The voice stays as it was.\n' +
         'Choose a recording of one note (60 to 1,500 Hz) sung, whistled or played and held.',
      6: 'The recording is longer than ten minutes. The voice stays as it was.\n' +
         'Cut out a stretch where one note is held.',
      other: 'No voice could be made of the recording. The voice stays as it was.',
    },
    midi: {
      command: ['MIDI devices', 'D', '...'],
      short: 'MIDI',
      caption: 'MIDI devices',
      inputs: 'Inputs (keyboards and controllers)',
      inputsNote: 'An input left unticked does not play.',
      noInputs: 'No MIDI input is connected.',
      output: 'Output (the pad plays a synth)',
      none: 'None',
      modes: { mpe: 'MPE (channels 2 to 16)', one: 'One channel (channel 1)' },
      mode: 'Output mode',
      problems: {
        insecure: 'The page is not open over a secure connection (https), so it cannot use MIDI.',
        unsupported: 'This browser cannot use MIDI devices.',
        refused: 'MIDI was not allowed. Nothing has changed.',
        failed: 'MIDI could not be opened. Nothing has changed.',
      },
    },
    said: {
      notWav: { caption: 'Not a WAV file',
                text: 'This is not a WAV file, so it cannot be the tone table. The built-in ' +
                      '440 Hz square plays instead.\nTo play a recording of another kind (MP3, ' +
                      'AAC or M4A, Ogg, FLAC…), use File → Make a voice from a recording.' },
      notWave: { caption: 'Not a WAV file',
                 text: 'This is a RIFF file but not a WAV file, so it cannot be the tone ' +
                       'table. The built-in 440 Hz square plays instead.' },
      chunkMissing: { caption: 'This WAV file cannot be loaded',
                      text: 'This WAV file has no format or no sound data: it may be damaged ' +
                            'or cut short. The built-in 440 Hz square plays instead.' },
      damaged: { caption: 'This WAV file cannot be loaded',
                 text: 'The format of this WAV file cannot be read: it may be damaged. The ' +
                       'built-in 440 Hz square plays instead.' },
      channels: (n) => ({
        caption: 'This WAV file cannot be loaded',
        text: `${n > 2 ? `This WAV file has ${n} channels. ` : ''}Only mono and stereo WAV ` +
              'files can be the tone table. The built-in 440 Hz square plays instead.\n' +
              'File → Make a voice from a recording may still make a voice of it.',
      }),
      sampleSize: (bits, float) => ({
        caption: 'This WAV file cannot be loaded',
        text: `${bits}-bit ${float ? 'floating-point ' : ''}samples cannot be loaded as a tone ` +
              'table; make a voice from it instead (File → Make a voice from a recording). ' +
              'The built-in 440 Hz square plays for now.\n' +
              'Only 8- and 16-bit WAV files become the tone table as they are.',
      }),
      rate: (hz) => ({
        caption: 'Note',
        text: (hz > 0 ? `This file was recorded at ${groups(hz)} Hz. As a tone table it is ` +
                        `read at 44,100 Hz, so it sounds ${hz < 44100 ? 'higher' : 'lower'} ` +
                        'than recorded.\n'
                      : `This file gives its rate as ${hz} Hz, which cannot be right; it is ` +
                        'read at 44,100 Hz.\n') +
              'To keep the pitch it was recorded at, make a voice from it instead (File → ' +
              'Make a voice from a recording).',
      }),
      saved: { caption: 'Saved',
               text: 'The take is saved as a WAV file in your downloads.' },
      notSaved: { caption: 'Not saved',
                  text: 'The take could not be saved. It is still here: try saving it again.' },
      loopSaved: { caption: 'Saved',
                   text: 'The loop is saved as a WAV file in your downloads.' },
      loopNotSaved: { caption: 'Not saved',
                      text: 'The loop could not be saved. It is still here: try saving it ' +
                            'again.' },
      outOfMemory: { caption: 'Out of memory',
                     text: 'The file is too large for memory. The built-in 440 Hz square plays ' +
                           'instead.\nChoose a shorter file.' },
    },
  },
};

export function pickLanguage(search, languages) {
  const asked = new URLSearchParams(search).get('lang');
  if (asked === 'ja' || asked === 'en') return asked;
  const first = (languages && languages[0]) || '';
  return first.toLowerCase().startsWith('ja') ? 'ja' : 'en';
}

// A message box of the module (`caption` null for the platform's default) as the page says it:
// { caption, text }. `format` is what the file's format chunk gave ({ bits, channels, float }),
// for the words on a refused file; `saving` what a save wrote, 'take' or 'loop'. A text the page
// does not know is shown as it came.
export function explain(lang, text, caption, format = null, saving = 'take') {
  const said = texts[lang].said;
  const rate = rateWarning.exec(text);
  if (rate) return said.rate(Number(rate[1]));
  switch (text) {
    case module.notRiff: return said.notWav;
    case module.notWave: return said.notWave;
    case module.chunkMissing: return said.chunkMissing;
    case module.notMonoOrStereo: return said.channels(format?.channels ?? 0);
    case module.cannotConvert:
      return format?.bits ? said.sampleSize(format.bits, format.float) : said.damaged;
    case module.saved: return saving === 'loop' ? said.loopSaved : said.saved;
    case module.death: return saving === 'loop' ? said.loopNotSaved : said.notSaved;
    case module.outOfMemory: return said.outOfMemory;
    default: return { caption: caption ?? texts[lang].defaultCaption, text };
  }
}

// The message a file too large for memory gets, as the module would show it.
export const outOfMemory = { text: module.outOfMemory, caption: module.outOfMemoryCaption };

// Note names with octave and the offset in cents, for a pitch in Hz (A4 = 440 Hz, MIDI 69). The
// black keys are named as the chosen key names them: with sharps, or with flats.
const sharps = ['C', 'C♯', 'D', 'D♯', 'E', 'F', 'F♯', 'G', 'G♯', 'A', 'A♯', 'B'];
const flats = ['C', 'D♭', 'D', 'E♭', 'E', 'F', 'G♭', 'G', 'A♭', 'A', 'B♭', 'B'];

export function pitchName(midi, withFlats = false) {
  return (withFlats ? flats : sharps)[((midi % 12) + 12) % 12];
}

export function noteName(midi, withFlats = false) {
  return `${pitchName(midi, withFlats)}${Math.floor(midi / 12) - 1}`;
}

export function noteOf(hz, withFlats = false) {
  const midi = 69 + 12 * Math.log2(hz / 440);
  const nearest = Math.round(midi);
  return { midi: nearest, name: noteName(nearest, withFlats),
           cents: Math.round((midi - nearest) * 100) };
}

// What several notes make, from the module's answer (kind | root << 8 | semitones << 16; kinds in
// chord::Kind's order: none, interval, then the chords): a symbol for the readout ("Am7", "M3")
// and a name to say ("A minor seventh", "major third"), or null.
export function chordText(t, answer, withFlats) {
  const kind = answer & 0xff;
  if (kind === 0) return null;
  if (kind === 1) {
    const semitones = (answer >> 16) & 0xff;
    const [symbol, name] = t.intervals[semitones > 0 && semitones % 12 === 0 ? 12 : semitones % 12];
    return { symbol, name };
  }
  const root = pitchName((answer >> 8) & 0xff, withFlats);
  const [suffix, name] = t.chords[kind - 2];
  return { symbol: `${root}${suffix}`, name: t.chordName(root, name) };
}

export function signed(n) {
  return n > 0 ? `+${n}` : n < 0 ? `−${-n}` : '±0';
}
