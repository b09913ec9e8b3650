// The page's texts: the window's own Japanese texts, and English renderings of them for browsers
// that prefer another language. The file commands' messages come from the module in Japanese;
// `messageText` renders them in English when the page is in English.

export const texts = {
  ja: {
    file: ['ファイル', 'F'],
    load: ['wavファイルの読み込み', 'R'],
    save: ['wavファイルへの書き出し', 'W'],
    help: ['ヘルプ', 'H'],
    about: ['バージョン情報', 'A', '...'],
    aboutCaption: 'バージョン情報',
    aboutVersion: 'Tonvarel Vers 1.0',
    aboutLine: 'A pitch-pad sound toy, 2026',
    ok: 'OK',
    defaultCaption: 'エラー',
    hint: '最初にパッドをクリックかタッチすると音が出るようになります。',
  },
  en: {
    file: ['File', 'F'],
    load: ['Read a wav file', 'R'],
    save: ['Write to a wav file', 'W'],
    help: ['Help', 'H'],
    about: ['Version information', 'A', '...'],
    aboutCaption: 'Version information',
    aboutVersion: 'Tonvarel Vers 1.0',
    aboutLine: 'A pitch-pad sound toy, 2026',
    ok: 'OK',
    defaultCaption: 'Error',
    hint: 'The sound starts with your first click or touch on the pad.',
  },
};

// The module's message texts and captions, in English.
const english = new Map([
  ['not RIFF', 'not RIFF'],
  ['not WAVE', 'not WAVE'],
  ['0', '0'],
  ['目的のRIFFチャンクが無い', 'The RIFF chunk looked for is missing'],
  ['モノでもステレオでも無い\r\n現Verでは変換できない形式です',
   'Neither mono nor stereo\r\nThis version cannot convert this format'],
  ['現Verでは変換できない形式です', 'This version cannot convert this format'],
  ['注意', 'Caution'],
  ['処理終了', 'Done'],
  ['death', 'death'],
]);
const rateWarning = /^レートが(-?\d+)Hzです。\r\n44100Hzじゃないです。$/;

export function pickLanguage(search, languages) {
  const asked = new URLSearchParams(search).get('lang');
  if (asked === 'ja' || asked === 'en') return asked;
  const first = (languages && languages[0]) || '';
  return first.toLowerCase().startsWith('ja') ? 'ja' : 'en';
}

export function messageText(lang, text) {
  if (lang === 'ja') return text;
  const rate = rateWarning.exec(text);
  if (rate) return `The rate is ${rate[1]}Hz.\r\nIt is not 44100Hz.`;
  return english.get(text) ?? text;
}
