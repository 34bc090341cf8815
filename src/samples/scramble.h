// The scrambled record of the example files kept in the settings store.
#pragma once

#include <QString>
#include <QStringList>

#include <functional>

namespace parvello {

class CodePage;

// Called once per character while a record is scrambled, so a long record keeps the
// window responsive. May be empty.
using EventPump = std::function<void()>;

// The key word of the record's scrambling.
inline const QString SampleKeyWord = QStringLiteral("velquora");

// Adds the code of the key's next character (cycling through the key) to the code-page
// code of each character, wrapping above 255 by subtracting 255. A character the code page
// cannot hold counts as "?". The result has the same length as the text.
QString ScrambleString(const QString& text, const QString& key, const CodePage& codePage,
                       const EventPump& pump = {});

// The reverse walk: subtracts the key's codes, wrapping below 1 by adding 255. Restores
// every code from 1 to 255.
QString UnscrambleString(const QString& text, const QString& key, const CodePage& codePage,
                         const EventPump& pump = {});

// The stored value for a list of full paths: the paths joined by "|", scrambled. When a
// path holds a character the code page cannot represent, the record is scrambled byte by
// byte in UTF-8 instead and marked by a leading U+FFFD, a character no code page produces,
// so such paths survive; every other record keeps the plain form.
QString EncodeSampleRecord(const QStringList& paths, const CodePage& codePage,
                           const EventPump& pump = {});

// The paths of a stored value, in either form ("|"-separated, every part kept).
QStringList DecodeSampleRecord(const QString& stored, const CodePage& codePage,
                               const EventPump& pump = {});

} // namespace parvello
