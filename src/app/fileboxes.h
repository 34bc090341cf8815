// The window's side of a file's failures: the location tag and line of every step that the
// "Application Error" box names for the file routines, in one table, and the boxes a failed
// step of one file shows. The engine only reports (see FileReport); these tags and lines are
// what users see and quote, and never change.
#pragma once

#include "quotes/fileengine.h"
#include "textio/writing.h"

#include <QString>

#include <functional>

namespace parvello {

class Prompts;
class Trap;

// The location tag of one of the file routines: "Qwellan2021/08/31.RFTSFSO.<routine>".
QString FileRoutineTag(const char* routine);

namespace file_routines {
inline constexpr const char* ReadLines = "ReadFileToStringLine";
inline constexpr const char* ReadTextStream = "ReadFileToStringFSOLine";
inline constexpr const char* ReadUtf8 = "ReadFileToStringUTFLine";
inline constexpr const char* WriteUtf8 = "WriteFileToStringUTF";
inline constexpr const char* WriteTextStream = "AppendStringFSO";
} // namespace file_routines

// The lines of each routine. A line with nothing to do on this system (a service to create
// or release, a setting it does not need) keeps its number, so that the others keep theirs.
struct ReadLines { // ReadFileToStringLine
    enum : int { MarkTest = 100, Utf8Test = 102, Utf8Road = 104, TextStreamRoad = 106 };
};
struct FsoLines { // ReadFileToStringFSOLine
    enum : int {
        CreateService = 100,
        Open = 102,
        FirstIndex = 104,
        EmptyTest = 106,
        OneLine = 108,
        EmptyLine = 110,
        MoreTest = 112,
        GrowArray = 114,
        ReadLine = 116,
        NextIndex = 118,
        Close = 120,
        ReturnLines = 122,
    };
};
struct UtfLines { // ReadFileToStringUTFLine
    enum : int {
        CreateService = 100,
        Charset = 102,
        Open = 104,
        Load = 106,
        ReadText = 108,
        Split = 110,
        CopyLines = 112,
        Close = 114,
        Release = 116,
    };
};
struct AppendLines { // AppendStringFSO
    enum : int {
        CreateService = 102,
        AppendTest = 104,
        OpenToAppend = 106,
        OpenToReplace = 108,
        Write = 116,
        Close = 124,
        ReleaseStream = 126,
        ReleaseService = 128,
    };
};
struct Utf8WriteLines { // WriteFileToStringUTF
    enum : int {
        CreateService = 100,
        Charset = 102,
        Open = 104,
        WriteText = 106,
        Save = 108,
        Close = 110,
        Release = 112,
    };
};

// The lines of "Start Removing" (PushButton2_Click) that one file's work stands for, from
// the start of its text to its last line written.
namespace run_lines {
constexpr int Utf8Test = 128; // the UTF-8 road starts an empty output text
constexpr int Utf8Start = 130;
constexpr int LoopStart = 132;     // once per line:
constexpr int TakeLine = 134;      //   the current line
constexpr int FirstRuleTest = 136; //   the six rules' tests, eight lines apart; each
constexpr int RuleStride = 8;      //   rule's three replacements on the next even lines
constexpr int Utf8Append = 184;    //   UTF-8 road: the line and CR LF join the text
constexpr int Utf8Appended = 186;
constexpr int StreamAppend = 188;  //   text-stream road: the line and CR LF are written
constexpr int Utf8WriteTest = 192; // the UTF-8 road writes the whole text
constexpr int Utf8Write = 194;
} // namespace run_lines

// Marks on the run's trap the lines of run_lines that one file's work stands for, on its
// road and with its rule, in their order; a fault a test injects at one of them is thrown.
void ReachFileLines(Trap& run, bool utf8Road, QuoteRule rule);

// Shows the boxes of a file's failed step, with the tags and lines the window has always
// shown for it: a file that cannot be opened gives four (the open of the mark test, the
// road's own open, and the two uses of the stream that never opened), a read that breaks off
// later two, a failed write one.
void ShowFileFailure(Prompts& prompts, const FileReport& report);

// ProcessFile for the window: its failure shown in boxes. With run, the window's trap, the
// lines of run_lines are marked right before the result replaces the output, and a failure
// at one of them leaves the output untouched and is thrown back, to be reported at its line.
FileReport ProcessFileShowingFailures(const QString& sourcePath, const QString& outputPath,
                                      const QuoteReplacer& rule, Prompts& prompts,
                                      Trap* run = nullptr,
                                      const std::function<void(qint64)>& afterBlock = {});

// The writers under their own tags: the whole text as UTF-8 after the mark (every failure
// at line 108), and the text-stream writer, which replaces the file (piece number 1 or less)
// or appends to it (a higher one); its failures are told at the line of the open (106
// appending, 108 replacing, and a read-only target that would change), the write (116) or
// the close (124).
WriteResult WriteUtf8WithMark(const QString& path, QStringView text, Prompts& prompts);
WriteResult WriteUtf8WithMark(const QString& path, const TextPieces& text, Prompts& prompts,
                              const OutputTarget& where = {});
WriteResult AppendInEncoding(QStringView text, const QString& path, int pieceNumber,
                             OutputEncoding encoding, Prompts& prompts);
WriteResult WriteInEncoding(const QString& path, OutputEncoding encoding, const TextPieces& text,
                            Prompts& prompts, const OutputTarget& where = {});

} // namespace parvello
