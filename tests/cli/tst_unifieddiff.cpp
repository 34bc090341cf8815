// The streamed diff of parvello-cli --diff: on real files through the engine, the same hunks
// as diff -u on the decoded texts, however the files are cut into blocks and windows.
#include "base/qtpaths.h"
#include "cli/unifieddiff.h"
#include "common/tempfiles.h"
#include "quotes/fileengine.h"
#include "textio/reading.h"
#include "textio/textsource.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QStringDecoder>
#include <QTest>

using namespace parvello;
using namespace parvello::testing;

namespace {

// A text of numbered lines (so that no two are alike), some with quotes, most ending in
// CR LF, some in LF or holding a lone CR.
enum Kind { Sparse, EveryLineInLf, HalfQuoted };
QString randomText(quint32 seed, int lines, Kind kind) {
    const bool lfOnly = kind == EveryLineInLf;
    QRandomGenerator random(seed);
    const QStringList plain{"caf\u00E9", "plain", "na\u00EFve", "word", "it's"};
    const QStringList quoted{"\"said\"", "\u201Cso\u201D", "\u2018x\u2019\""};
    QString text;
    for (int n = 0; n < lines; ++n) {
        text += QStringLiteral("line %1").arg(n);
        for (int w = random.bounded(6); w > 0; --w)
            text += u' ' + plain[random.bounded(plain.size())];
        if (random.bounded(100) < (kind == HalfQuoted ? 50 : 3))
            text += u' ' + quoted[random.bounded(quoted.size())];
        const int end = lfOnly ? 0 : random.bounded(100);
        if (end == 1)
            text += QStringLiteral("\rpart %1").arg(n);
        if (n + 1 == lines && random.bounded(2))
            break; // no line end at the end
        text += lfOnly || end == 2 ? QStringLiteral("\n") : QStringLiteral("\r\n");
    }
    return text;
}

QByteArray encoded(const QString& text, SourceFormat format) {
    switch (format) {
    case SourceFormat::Utf8WithMark:
        return "\xEF\xBB\xBF" + text.toUtf8();
    case SourceFormat::Utf16LE:
        return "\xFF\xFE" + QStringEncoder(QStringConverter::Utf16LE)(text);
    case SourceFormat::CodePage:
        return QStringEncoder("windows-1252")(text);
    default:
        return text.toUtf8();
    }
}

// Runs a program on files in folder; its standard output.
QByteArray run(const QString& program, const QStringList& args, const QString& folder) {
    QProcess process;
    process.setWorkingDirectory(folder);
    process.start(program, args);
    if (!process.waitForFinished(60000))
        qFatal("%s did not finish", qPrintable(program));
    return process.readAllStandardOutput();
}

// Our lines show a CR as U+240D on removed and added lines; patch and diff -u hold the CR.
QByteArray withSymbols(const QByteArray& diff, bool toSymbol) {
    QList<QByteArray> lines = diff.split('\n');
    for (qsizetype i = 2; i < lines.size(); ++i)
        if (lines[i].startsWith('-') || lines[i].startsWith('+'))
            lines[i] =
                toSymbol ? lines[i].replace('\r', "\u240D") : lines[i].replace("\u240D", "\r");
    return lines.join('\n');
}

} // namespace

class TestUnifiedDiff : public QObject {
    Q_OBJECT

private slots:
    void cleanup() { SetReadBlockSizeForTests(0); }

    // Random files, each through the engine; read in blocks of 1 KiB with windows of 64
    // lines, over files of 2000 lines whose changes lie many blocks apart. With room for
    // every hunk the diff is diff -u's; a hunk too large for its limit comes in pieces that
    // patch still applies.
    void sameAsDiffU_data() {
        QTest::addColumn<quint32>("seed");
        QTest::addColumn<int>("formatNumber");
        QTest::addColumn<int>("kind");
        QTest::addColumn<qsizetype>("hunkUnits");
        const std::pair<const char*, SourceFormat> formats[] = {
            {"utf-8", SourceFormat::Utf8},
            {"utf-8 with mark", SourceFormat::Utf8WithMark},
            {"utf-16", SourceFormat::Utf16LE},
            {"code page", SourceFormat::CodePage}};
        for (quint32 seed = 1; seed <= 3; ++seed)
            for (const auto& [name, format] : formats) {
                for (const auto& [kind, text] :
                     {std::pair(Sparse, "few quotes"), std::pair(EveryLineInLf, "every line in LF"),
                      std::pair(HalfQuoted, "half the lines quoted")})
                    QTest::addRow("%s %u %s", name, seed, text)
                        << seed << int(format) << int(kind) << qsizetype(1 << 22);
            }
        QTest::addRow("hunks in pieces")
            << 7u << int(SourceFormat::CodePage) << int(EveryLineInLf) << qsizetype(5000);
    }
    void sameAsDiffU() {
        QFETCH(quint32, seed);
        QFETCH(int, formatNumber);
        const auto format = SourceFormat(formatNumber);
        QFETCH(int, kind);
        QFETCH(qsizetype, hunkUnits);
        if (QStandardPaths::findExecutable("diff").isEmpty() ||
            QStandardPaths::findExecutable("patch").isEmpty())
            QFAIL("diff and patch are needed");
        TempFolder folder;
        const QString source =
            folder.write("source.txt", encoded(randomText(seed, 2000, Kind(kind)), format));
        const QString result = folder.path("result.txt");
        SetReadBlockSizeForTests(1024);
        const FileReport report = ProcessFile(ToPath(source), ToPath(result),
                                              QuoteReplacer(QuoteRule::DoubleToText, u"<>", u"'"));
        QVERIFY(report.succeeded());
        const DiffLimits limits{200, 64, 1 << 14, 64, hunkUnits};
        QByteArray ours;
        QVERIFY(WriteFileDiff(
            "f", ToPath(source), report.formatRead, ToPath(result), report.encodingWritten, false,
            [&](std::string_view bytes) {
                ours.append(bytes.data(), qsizetype(bytes.size()));
                return true;
            },
            limits));

        const QString oldText = QString::fromStdU16String(ReadWholeLines(ToPath(source)).text);
        const QString newText = QString::fromStdU16String(
            ReadWholeLines(ToPath(result)).text); // as the engine reads it
        folder.write("old", oldText.toUtf8());
        folder.write("new", newText.toUtf8());
        if (hunkUnits < (1 << 22)) {
            QVERIFY(ours.count("\n@@ ") > 2);
            folder.write("diff", withSymbols(ours, false));
            run("patch", {"-s", "old", "diff"}, folder.root());
            QFile patched(folder.path("old"));
            QVERIFY(patched.open(QIODevice::ReadOnly));
            QCOMPARE(QString::fromUtf8(patched.readAll()), newText);
            return;
        }
        const QByteArray theirs = withSymbols(
            run("diff", {"-u", "--label", "f", "--label", "f", "old", "new"}, folder.root()), true);
        QVERIFY(!theirs.isEmpty());
        QCOMPARE(ours, theirs);
    }

    // A line longer than the limit is compared by its digest and shown cut; colour as git
    // shows it, chosen by --color and NO_COLOR.
    void longLinesAndColour() {
        const QString longLine = QString(300, u'x') + u'\n';
        const QString oldText = "a\n" + longLine + "b\"\n";
        const QString newText = "a\n" + longLine + "b\n";
        QByteArray out;
        const auto diff = [&](const QString& a, const QString& b, bool colour) {
            struct Whole : DiffText {
                std::u16string text;
                bool given = false;
                bool next(std::u16string_view& block) override {
                    block = text;
                    return !std::exchange(given, true);
                }
            } x, y;
            x.text = a.toStdU16String();
            y.text = b.toStdU16String();
            out.clear();
            return WriteUnifiedDiff(
                x, y, {"l", "l", colour},
                [&](std::string_view bytes) {
                    out.append(bytes.data(), qsizetype(bytes.size()));
                    return true;
                },
                DiffLimits{100, 64, 1 << 14, 64, 1 << 20});
        };
        QVERIFY(!diff(longLine + "z\n", longLine + "z\n", false));
        QVERIFY(diff(oldText, newText, false));
        QCOMPARE(out, "--- l\n+++ l\n@@ -1,3 +1,3 @@\n a\n " + QString(100, u'x').toUtf8() +
                          " [... 200 more characters]\n-b\"\n+b\n");
        QVERIFY(diff("a\n", "b\n", true));
        QCOMPARE(out, "\033[1m--- l\033[m\n\033[1m+++ l\033[m\n\033[36m@@ -1 +1 @@\033[m\n"
                      "\033[31m-a\033[m\n\033[32m+b\033[m\n");

        using cli::Colour;
        QVERIFY(DiffInColour(Colour::Auto, true, ""));
        QVERIFY(!DiffInColour(Colour::Auto, true, "1"));
        QVERIFY(!DiffInColour(Colour::Auto, false, ""));
        QVERIFY(DiffInColour(Colour::Always, false, "1"));
        QVERIFY(!DiffInColour(Colour::Never, true, ""));
    }
};

QTEST_GUILESS_MAIN(TestUnifiedDiff)
#include "tst_unifieddiff.moc"
