#include "cli/unifieddiff.h"

#include <QStringView>

#include <algorithm>
#include <vector>

namespace parvello {

namespace {

// Lines with their LF, if any: two lines are the same only when their ends are too.
std::vector<QStringView> linesOf(const QString& text) {
    std::vector<QStringView> lines;
    qsizetype from = 0;
    while (from < text.size()) {
        const qsizetype lf = text.indexOf(QLatin1Char('\n'), from);
        const qsizetype end = lf < 0 ? text.size() : lf + 1;
        lines.push_back(QStringView(text).sliced(from, end - from));
        from = end;
    }
    return lines;
}

struct Op {
    char kind;       // ' ' kept, '-' removed, '+' added
    qsizetype line;  // index into the old lines (' ' and '-') or the new lines ('+')
    qsizetype atOld; // old lines before this one
    qsizetype atNew; // new lines before this one
};

std::vector<Op> editScript(const std::vector<QStringView>& a, const std::vector<QStringView>& b) {
    std::vector<Op> ops;
    qsizetype i = 0;
    qsizetype j = 0;
    const auto keep = [&] {
        ops.push_back({' ', i, i, j});
        ++i;
        ++j;
    };
    const auto removeOld = [&] {
        ops.push_back({'-', i, i, j});
        ++i;
    };
    const auto addNew = [&] {
        ops.push_back({'+', j, i, j});
        ++j;
    };
    const qsizetype na = qsizetype(a.size());
    const qsizetype nb = qsizetype(b.size());
    if (na == nb) {
        while (i < na) {
            if (a[size_t(i)] == b[size_t(i)]) {
                keep();
                continue;
            }
            qsizetype end = i;
            while (end < na && a[size_t(end)] != b[size_t(end)])
                ++end;
            const qsizetype start = i;
            while (i < end)
                removeOld();
            j = start;
            while (j < end)
                addNew();
        }
        return ops;
    }
    qsizetype prefix = 0;
    while (prefix < std::min(na, nb) && a[size_t(prefix)] == b[size_t(prefix)])
        ++prefix;
    qsizetype suffix = 0;
    while (suffix < std::min(na, nb) - prefix &&
           a[size_t(na - 1 - suffix)] == b[size_t(nb - 1 - suffix)])
        ++suffix;
    while (i < prefix)
        keep();
    while (i < na - suffix)
        removeOld();
    while (j < nb - suffix)
        addNew();
    while (i < na)
        keep();
    return ops;
}

void appendLine(QByteArray& out, char kind, QStringView line) {
    const bool hasLf = line.endsWith(u'\n');
    QString shown = (hasLf ? line.chopped(1) : line).toString();
    if (kind != ' ')
        shown.replace(QLatin1Char('\r'), QChar(0x240D));
    out += kind;
    out += shown.toUtf8();
    out += '\n';
    if (!hasLf)
        out += "\\ No newline at end of file\n";
}

QByteArray range(qsizetype before, qsizetype count) {
    const QByteArray start = QByteArray::number(count == 0 ? before : before + 1);
    return count == 1 ? start : start + ',' + QByteArray::number(count);
}

} // namespace

QByteArray UnifiedDiff(const QString& oldLabel, const QString& newLabel, const QString& oldText,
                       const QString& newText, int context) {
    const std::vector<QStringView> a = linesOf(oldText);
    const std::vector<QStringView> b = linesOf(newText);
    const std::vector<Op> ops = editScript(a, b);
    QByteArray out;
    size_t at = 0;
    while (at < ops.size()) {
        while (at < ops.size() && ops[at].kind == ' ')
            ++at;
        if (at == ops.size())
            break;
        // A hunk: from `context` kept lines before the first change to `context` kept lines
        // after the last change that lies within 2 * context kept lines of the one before.
        const size_t first = at >= size_t(context) ? at - size_t(context) : 0;
        size_t last = at;
        size_t scan = at;
        while (scan < ops.size()) {
            if (ops[scan].kind != ' ') {
                last = scan++;
                continue;
            }
            size_t kept = scan;
            while (kept < ops.size() && ops[kept].kind == ' ')
                ++kept;
            if (kept == ops.size() || kept - scan > size_t(2 * context))
                break;
            scan = kept;
        }
        const size_t end = std::min(ops.size(), last + 1 + size_t(context));
        qsizetype oldCount = 0;
        qsizetype newCount = 0;
        for (size_t k = first; k < end; ++k) {
            oldCount += ops[k].kind != '+';
            newCount += ops[k].kind != '-';
        }
        if (out.isEmpty())
            out += "--- " + oldLabel.toUtf8() + "\n+++ " + newLabel.toUtf8() + '\n';
        out += "@@ -" + range(ops[first].atOld, oldCount) + " +" +
               range(ops[first].atNew, newCount) + " @@\n";
        for (size_t k = first; k < end; ++k)
            appendLine(out, ops[k].kind,
                       ops[k].kind == '+' ? b[size_t(ops[k].line)] : a[size_t(ops[k].line)]);
        at = end;
    }
    return out;
}

} // namespace parvello
