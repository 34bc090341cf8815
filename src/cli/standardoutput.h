// Standard output, checked to its close: a result that did not reach it is never reported
// as done.
#pragma once

#include <QByteArrayView>
#include <QString>

namespace parvello {

// Writes all the bytes to standard output, unbuffered, from any thread (one writer at a
// time). False once standard output has failed: nothing more is written then, and the
// failure is kept for FinishStdout. A pipe that nobody reads any more ends the run quietly
// (StopAtClosedPipe).
bool WriteStdout(QByteArrayView bytes);

// Whether a write to standard output has failed; work whose only product is standard
// output can stop then.
bool StdoutFailed();

// Closes standard output and returns "" when everything written reached it, else the
// system's description of the first failure ("No space left on device").
QString FinishStdout();

} // namespace parvello
