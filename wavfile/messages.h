// The texts of the file commands' message boxes and chooser. The Windows build compiles the
// wavfile sources with code page 932 literals (tonvarel_texts), so these reach the 8-bit
// Windows calls as Shift_JIS; include this only from the wavfile library's own sources.
#pragma once

namespace tonvarel::text {

// Format complaints from the importer all carry the caption "0".
constexpr char kFormatCaption[] = "0";
constexpr char kNotRiff[] = "not RIFF";
constexpr char kNotWave[] = "not WAVE";
constexpr char kChunkMissing[] = "目的のRIFFチャンクが無い";
constexpr char kNotMonoOrStereo[] = "モノでもステレオでも無い\r\n現Verでは変換できない形式です";
constexpr char kCannotConvert[] = "現Verでは変換できない形式です";

// Any rate is played as 44,100 Hz; other rates are only pointed out. %d is the rate field.
constexpr char kRateCaption[] = "注意";
constexpr char kRateWarning[] = "レートが%dHzです。\r\n44100Hzじゃないです。";

// The save's report, and the one word for a file that cannot be written (shown with the
// platform's default caption).
constexpr char kSaved[] = "処理終了";
constexpr char kSavedCaption[] = "処理終了";
constexpr char kDeath[] = "death";

// The file, or a table made from it, does not fit in memory; the built-in tone comes back.
constexpr char kOutOfMemoryCaption[] = "メモリ不足";
constexpr char kOutOfMemory[] =
    "ファイルが大きすぎてメモリに入りません。\r\n内蔵の440Hzの矩形波に戻します。";

constexpr char kChooserTitle[] = "とっととファイルを選べ。";

}  // namespace tonvarel::text
