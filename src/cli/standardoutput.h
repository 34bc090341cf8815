// Standard output, checked to its close: a result that did not reach it is never reported
// as done; and standard error. Both go through here, so that on Windows a real console gets
// the text as characters (WriteConsoleW) and a pipe or file gets its UTF-8 bytes.
#pragma once

#include <string>
#include <string_view>

namespace parvello {

// Writes all the bytes to standard output, unbuffered, from any thread (one writer at a
// time). False once standard output has failed: nothing more is written then, and the
// failure is kept for FinishStdout. A pipe that nobody reads any more ends the run quietly
// (StopAtClosedPipe).
bool WriteStdout(std::string_view bytes);

// Whether a write to standard output has failed; work whose only product is standard
// output can stop then.
bool StdoutFailed();

// Closes standard output and returns "" when everything written reached it, else the
// system's description of the first failure ("No space left on device").
std::string FinishStdout();

// Writes the text (UTF-8) to standard error as it is; a failure there is not reported.
void WriteStderr(std::string_view text);

// Whether standard error and standard output are terminals (a console on Windows).
bool StderrIsTerminal();
bool StdoutIsTerminal();

} // namespace parvello
