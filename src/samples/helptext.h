// The text of the "Help" box: which characters count as single and double quotes, and
// where that comes from.
#pragma once

#include <QString>

namespace parvello {

// The question the "Help" box asks, naming referencePage as the source of the quote kinds.
QString QuoteKindsMessage(const QString& referencePage);

} // namespace parvello
