// File names as the program prints them, for the names and lines the window holds as text:
// the routines of base/printabletext.h (which say what is escaped), at the window's edge.
#pragma once

#include <QByteArrayView>
#include <QString>

namespace parvello {

// The length of the valid UTF-8 sequence at the start of `bytes` (not empty), with the code
// point it stands for; 0 when it is not one (overlong forms, surrogates and code points
// beyond U+10FFFF are not valid).
qsizetype Utf8SequenceAt(QByteArrayView bytes, char32_t& code);

// A name's bytes for printing. A name that holds a control character (C0, DEL, or C1 as
// UTF-8, U+0080..U+009F), bytes that are not valid UTF-8, or that begins with a double
// quote, is printed between double quotes with C escapes: \a \b \t \n \v \f \r \" \\ and
// three octal digits for every other such byte ("a\nb.txt", "caf\351.txt"). Every other
// name is returned as it is, without quotes.
QString PrintableName(QByteArrayView name);

// The same for a name the program holds as text: its bytes are the file-name encoding's
// bytes of that text (QFile::encodeName), which for every name the program opens are the
// bytes the system gave.
QString PrintablePath(const QString& path);

// A line of text for printing (a message that may quote a name the program could not
// pick out): every control character in it is replaced by its escape, as inside a quoted
// name, so that the line stays one line and harmless. Nothing else changes.
QString PrintableLine(const QString& line);

} // namespace parvello
