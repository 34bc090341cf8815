#include "app/prompts.h"

namespace parvello {

namespace {
QString applicationTitle = QStringLiteral("Parvello");
}

QString ApplicationTitle() {
    return applicationTitle;
}

void SetApplicationTitle(const QString& title) {
    applicationTitle = title;
}

} // namespace parvello
