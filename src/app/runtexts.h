// The texts a run over the list shows: the progress bar's, and the summary after "Done."
// of the files it left untouched.
#pragma once

#include <QList>
#include <QString>

namespace parvello {

// The bar's text while no run goes on.
inline const QString IdleProgressText = QStringLiteral("Progress Bar");

// The bar's text while sourcePath is processed: "Processing: " and the file's name, as a
// format for the bar, so that a '%' in the name shows as itself.
QString ProgressText(const QString& sourcePath);

// A file the run left untouched, and why (one clause).
struct Untouched {
    QString path;
    QString reason;
};

// How many of the files left untouched the summary names one by one.
inline constexpr std::ptrdiff_t SummaryNames = 10;

// The box after "Done." that names the files left untouched, and why.
QString UntouchedSummary(const QList<Untouched>& files);

} // namespace parvello
