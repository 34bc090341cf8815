#include "common/fakeprompts.h"
#include "common/otherwriter.h"
#include "common/tempfiles.h"
#include "common/unprivileged.h"
#include "app/fileboxes.h"
#include "app/linereaders.h"
#include "base/qtpaths.h"
#include "quotes/fileengine.h"
#include "textio/atomicfile.h"
#include "textio/reading.h"
#include "textio/textencoder.h"
#include "textio/textsource.h"

#include <QRandomGenerator>
#include <QtTest>

#include <array>
#include <iterator>
#include <optional>
#include <tuple>

#ifdef Q_OS_LINUX
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif

using namespace parvello;
using namespace parvello::testing;

Q_DECLARE_METATYPE(parvello::QuoteRule)
Q_DECLARE_METATYPE(parvello::FileOutcome)
Q_DECLARE_METATYPE(parvello::LineEnds)

namespace {

// What a file becomes on the decoded road: every line decoded, through the rule, CR LF after
// it, encoded in the output's encoding. The reference for the engine, which works on the
// bytes of UTF-8 and code-page files without decoding them. Its count: the decoded quotes of
// the family whose result is not the quote itself.
// The rule with replacement texts as the window holds them.
QuoteReplacer ruleOf(QuoteRule rule, const QString& doubleText, const QString& singleText) {
    return QuoteReplacer(rule, doubleText.toStdU16String(), singleText.toStdU16String());
}

FileReport decodedRoad(const QString& path, const QuoteReplacer& rule, QByteArray& bytes) {
    FakePrompts prompts;
    const LineArray lines = ReadFileLines(path, prompts, LineForm::Text);
    if (lines.status == ReadStatus::NotText)
        return {FileOutcome::NotText, lines.problem};
    const TextEncoder encoder(OutputEncodingFor(lines));
    std::string encoded(encoder.mark());
    FileReport report(FileOutcome::Written, {});
    for (qsizetype i = 0; i < lines.size(); ++i) {
        for (const QChar c : QStringView(lines[i]))
            for (size_t q = 0; q < 3 && rule.rule() != QuoteRule::None; ++q)
                report.quotesChanged += c == rule.family()[q] &&
                                        QString::fromStdU16String(rule.result(q)) != QString(c);
        if (!encoder.append(rule.apply(lines[i]), encoded) ||
            !encoder.append(u"\r\n", encoded))
            report.outcome = FileOutcome::CannotHold;
    }
    bytes = QByteArray::fromStdString(encoded);
    if (report.outcome == FileOutcome::CannotHold)
        report.reason = CannotHoldReason(OutputEncodingFor(lines));
    return report;
}

#ifdef Q_OS_LINUX
// An access list as the system keeps it in an extended attribute: a version, then one entry
// (tag, permission bits, user or group id) per line of `getfacl`, in the system's order.
QByteArray AccessListBytes(std::initializer_list<std::array<unsigned, 3>> entries) {
    QByteArray bytes;
    const auto put = [&](quint32 value, int size) {
        for (int i = 0; i < size; ++i)
            bytes.append(char((value >> (8 * i)) & 0xFF));
    };
    put(2, 4);
    for (const auto& [tag, permissions, id] : entries) {
        put(tag, 2);
        put(permissions, 2);
        put(id, 4);
    }
    return bytes;
}
constexpr unsigned UserObj = 0x01, NamedUser = 0x02, GroupObj = 0x04, Mask = 0x10, Other = 0x20;
constexpr unsigned NoId = 0xFFFFFFFF;

QByteArray Attribute(const QString& path, const char* name) {
    char value[512];
    const ssize_t n = ::lgetxattr(QFile::encodeName(path).constData(), name, value, sizeof value);
    return n < 0 ? QByteArray() : QByteArray(value, n);
}

bool SetAttribute(const QString& path, const char* name, const QByteArray& value) {
    return ::lsetxattr(QFile::encodeName(path).constData(), name, value.constData(),
                       size_t(value.size()), 0) == 0;
}

// Sets or clears the append-only attribute of a folder (root only), as chattr does.
bool SetAppendOnly(const QString& folder, bool on) {
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}

struct stat StatusOf(const QString& path) {
    struct stat status {};
    ::lstat(QFile::encodeName(path).constData(), &status);
    return status;
}
#endif

// Random file contents from pieces that matter to the byte road: quotes of both families
// in UTF-8 and in windows-1252, other characters that share their first byte, line breaks
// of every kind, non-ASCII text, and now and then a NUL or a broken sequence.
QByteArray randomContent(QRandomGenerator& random) {
    static const QList<QByteArray> pieces = {
        "plain words ", "\"", "'", "\xE2\x80\x9C", "\xE2\x80\x9D", "\xE2\x80\x98", "\xE2\x80\x99",
        // sharing a first or last byte with a
        // quote: an em dash, U+301C, Ü, U+301D and
        // a four-byte character ending in 98
        "\xE2\x80\x94\xE3\x80\x9C\xC3\x9C\xE3\x80\x9D"
        "\xF0\x9F\x80\x98",
        "\xE2\x80", "\xC3\xA9", "\xF0\x9F\x98\x80", "\r", "\n", "\r\n", "\x93", "\x94", "\x91",
        "\x92", "\xE9", "\x81", "\xEF\xBB\xBF", QByteArray(1, '\0'), "\x80", "\xE2"};
    static const QList<QByteArray> starts = {"", "", "", "\xEF\xBB\xBF", "\xEF\xBB", "\xFF\xFE"};
    QByteArray content = starts[int(random.bounded(starts.size()))];
    // Most files keep to one encoding, so that they are text; some mix everything.
    const int family = int(random.bounded(4)); // 0: UTF-8, 1: windows-1252, 2, 3: anything
    const int count = int(random.bounded(24));
    for (int k = 0; k < count; ++k) {
        int pick = int(random.bounded(pieces.size()));
        if (family == 0 && pick >= 14)
            pick = int(random.bounded(14));
        if (family == 1 && pick >= 3 && pick < 11)
            pick = 14 + int(random.bounded(6));
        if (family < 2 && pick >= 20)
            pick = 0;
        content += pieces[pick];
        if (random.bounded(3) == 0)
            content += QByteArray(int(random.bounded(40)), char('a' + k % 26));
    }
    return content;
}

} // namespace

class TestFileEngine : public QObject {
    Q_OBJECT

private slots:
    // The engine gives, for every rule and replacement text, exactly the bytes, outcome and
    // count of the decoded road, on files of every kind (long ones too, and in UTF-16), read
    // in blocks of any size; compared only, it tells whether they differ from the file.
    void sameAsDecodedRoad() {
        const QList<QString> texts = {QString(5000, u'x'),
                                      QString(),
                                      QStringLiteral("\u00AB"),
                                      QStringLiteral("''"),
                                      QStringLiteral("\""),
                                      QStringLiteral("\u2605"),
                                      QStringLiteral("x\u201Cy\u2019"),
                                      QStringLiteral("\u00E9"),
                                      QStringLiteral("\U0001F600")};
        const QuoteRule rules[] = {QuoteRule::None,           QuoteRule::RemoveDouble,
                                   QuoteRule::RemoveSingle,   QuoteRule::DoubleToSingle,
                                   QuoteRule::SingleToDouble, QuoteRule::DoubleToText,
                                   QuoteRule::SingleToText};
        TempFolder folder;
        FakePrompts prompts;
        QRandomGenerator random(1208);
        const QString source = folder.path("in.txt");
        const QString output = folder.path("out.txt");
        const qsizetype blocks[] = {0, 0, 1, 2, 3, 7, 64, 200};
        FileOptions compareOnly;
        compareOnly.compareOnly = true;
        for (int round = 0; round < 1500; ++round) {
            QByteArray content = randomContent(random).repeated(random.bounded(3) ? 1 : 40);
            if (random.bounded(8) == 0)
                content = "\xFF\xFE" + Utf16LE(QString::fromUtf8(content));
            const QuoteRule rule = rules[random.bounded(int(std::size(rules)))];
            const QString text = texts[int(random.bounded(texts.size()))];
            const QuoteReplacer replacer = ruleOf(rule, text, text);
            SetReadBlockSizeForTests(blocks[random.bounded(int(std::size(blocks)))]);
            folder.write("in.txt", content);
            QFile::remove(output);
            QByteArray expected;
            const FileReport reference = decodedRoad(source, replacer, expected);
            const FileReport compared = ProcessFile(ToPath(source), ToPath(source), replacer, {}, compareOnly);
            const FileReport report = ProcessFileShowingFailures(source, output, replacer, prompts);
            if (report.outcome != reference.outcome ||
                (report.outcome == FileOutcome::Written && ReadBytes(output) != expected))
                qWarning() << "round" << round << "rule" << int(rule) << "text" << text << "content"
                           << content.toHex(' ');
            QCOMPARE(report.outcome, reference.outcome);
            QCOMPARE(report.reason, reference.reason);
            QCOMPARE(ReadBytes(source), content);
            QCOMPARE(compared.outcome, reference.outcome != FileOutcome::Written ? reference.outcome
                                       : expected == content ? FileOutcome::Unchanged
                                                             : FileOutcome::WouldChange);
            if (reference.outcome != FileOutcome::NotText) {
                QCOMPARE(report.quotesChanged, reference.quotesChanged);
                QCOMPARE(compared.quotesChanged, reference.quotesChanged);
            }
            if (report.outcome == FileOutcome::Written)
                QCOMPARE(ReadBytes(output), expected);
            else
                QVERIFY(!QFile::exists(output));
        }
        SetReadBlockSizeForTests(0);
        QCOMPARE(prompts.calls.size(), 0);
    }

    // Compared only, nothing is made anywhere: a folder the user may not write and a file
    // that is read-only still answer, whether the file is small (its bytes kept) or not.
    void comparedOnlyWritesNothing() {
        TempFolder folder;
        const QByteArray lines = QByteArray("a \"b\"\r\n").repeated(20000);
        const QStringList paths = {folder.write("large.txt", lines),
                                   folder.write("same.txt", QByteArray(lines).replace('"', ' ')),
                                   folder.write("small.txt", "\"x\"\r\n")};
        for (const QString& path : paths)
            QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther);
        QFile::setPermissions(folder.root(), QFileDevice::Permissions(0x5555));
        const int status = RunUnprivileged([&] {
            FileOptions options;
            options.compareOnly = true;
            int failed = 0;
            for (const auto& [k, outcome, quotes] : {std::tuple{0, FileOutcome::WouldChange, 40000},
                                                     {1, FileOutcome::Unchanged, 0},
                                                     {2, FileOutcome::WouldChange, 2}}) {
                const FileReport report =
                    ProcessFile(ToPath(paths[k]), ToPath(paths[k]), QuoteReplacer(QuoteRule::RemoveDouble, {}, {}),
                                {}, options);
                failed |= int(report.outcome != outcome || report.quotesChanged != quotes) << k;
            }
            return failed;
        });
        QFile::setPermissions(folder.root(), QFileDevice::Permissions(0x7777));
        QCOMPARE(status, 0);
        QCOMPARE(folder.entries(), (QStringList{"large.txt", "same.txt", "small.txt"}));
    }

    // One file through the engine, into another folder: the output's bytes per road.
    void roads_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QuoteRule>("rule");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QByteArray>("output");
        const auto remove = QuoteRule::RemoveDouble;
        QTest::newRow("code page gains CR LF on every line")
            << QByteArray("a \"b\"\nc \x93"
                          "d\x94\re")
            << remove << QString() << QByteArray("a b\r\nc d\r\ne\r\n");
        QTest::newRow("empty file: one CR LF")
            << QByteArray() << remove << QString() << QByteArray("\r\n");
        QTest::newRow("UTF-8 mark: final CR LF stays one")
            << QByteArray("\xEF\xBB\xBF\"a\"\r\nb\r\n") << remove << QString()
            << QByteArray("\xEF\xBB\xBF"
                          "a\r\nb\r\n");
        QTest::newRow("UTF-8 mark: LF-only file is one line") << QByteArray("\xEF\xBB\xBF"
                                                                            "a\nb")
                                                              << remove << QString()
                                                              << QByteArray("\xEF\xBB\xBF"
                                                                            "a\nb\r\n");
        QTest::newRow("UTF-8 mark: a second mark is text and stays")
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF\"a") << remove << QString()
            << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF"
                          "a\r\n");
        QTest::newRow("mark-less UTF-8 stays UTF-8 with a non-ASCII replacement")
            << QByteArray("\xE2\x80\x9Chi\xE2\x80\x9D caf\xC3\xA9\n") << QuoteRule::DoubleToText
            << QStringLiteral("\u00AB")
            << QByteArray("\xC2\xAB"
                          "hi\xC2\xAB caf\xC3\xA9\r\n");
        QTest::newRow("UTF-16 LE stays UTF-16 LE")
            << QByteArray("\xFF\xFE") + Utf16LE(QStringLiteral("\u2018a\u2019\n"))
            << QuoteRule::SingleToDouble << QString()
            << QByteArray("\xFF\xFE") + Utf16LE(QStringLiteral("\u201Ca\u201D\r\n"));
        QTest::newRow("UTF-16 BE becomes UTF-16 LE")
            << QByteArray("\xFE\xFF\x00\"\x00"
                          "a",
                          6)
            << remove << QString() << QByteArray("\xFF\xFE") + Utf16LE(QStringLiteral("a\r\n"));
        QTest::newRow("UTF-32 LE becomes UTF-16 LE")
            << QByteArray("\xFF\xFE\x00\x00"
                          "a\x00\x00\x00\x00\xF6\x01\x00",
                          12)
            << remove << QString()
            << QByteArray("\xFF\xFE") + Utf16LE(QStringLiteral("a\U0001F600\r\n"));
    }
    void roads() {
        QFETCH(QByteArray, input);
        QFETCH(QuoteRule, rule);
        QFETCH(QString, text);
        QFETCH(QByteArray, output);
        TempFolder folder;
        FakePrompts prompts;
        const QString source = folder.write("in.txt", input);
        const FileReport report =
            ProcessFileShowingFailures(source, folder.path("out.txt"), ruleOf(rule, text, text), prompts);
        QCOMPARE(report.outcome, FileOutcome::Written);
        QCOMPARE(ReadBytes(folder.path("out.txt")), output);
        QCOMPARE(ReadBytes(source), input);
        QCOMPARE(prompts.calls.size(), 0);
    }

    // Line ends made LF or kept, on every road, with the line breaks cut at block edges: each
    // CR LF, lone CR and lone LF made LF and the last line ended, or all kept and none added
    // (a file without quotes is then not written again).
    void lineEnds_data() {
        QTest::addColumn<QString>("road");
        QTest::addColumn<LineEnds>("ends");
        for (const char* road : {"UTF-8 mark", "UTF-8", "UTF-16", "code page"})
            for (const LineEnds ends : {LineEnds::Lf, LineEnds::Keep})
                QTest::addRow("%s, %d", road, int(ends)) << QString::fromLatin1(road) << ends;
    }
    void lineEnds() {
        QFETCH(QString, road);
        QFETCH(LineEnds, ends);
        const auto encoded = [&](const QString& text) {
            return road == "UTF-8 mark" ? "\xEF\xBB\xBF" + text.toUtf8()
                   : road == "UTF-8"    ? text.toUtf8()
                   : road == "UTF-16"   ? "\xFF\xFE" + Utf16LE(text)
                                        : text.toLatin1();
        };
        const QString texts[] = {"\u00E9\"a\"\r\nb\rc\n\nd\r\r\n\"e\u00E9", "\u00E9\r",
                                 "\u00E9\n\r", "\u00E9\"\r\n\"", "\r\n\r\u00E9\"\n", "",
                                 // long enough for the vector passes
                                 QString("\u00E9 words \"q\"\r\nmore\rand\n\n").repeated(9)};
        const QuoteReplacer rules[] = {{QuoteRule::RemoveDouble, {}, {}},
                                       {QuoteRule::DoubleToText, u"\u00AB\u00BB", {}},
                                       {QuoteRule::DoubleToText, std::u16string(4100, u'x'), {}}};
        TempFolder folder;
        const QString in = folder.path("in.txt"), out = folder.path("out.txt");
        const FileOptions options{ends, false, {}};
        for (const qsizetype block : {1, 2, 3, 7, 0}) {
            SetReadBlockSizeForTests(block);
            for (const QString& text : texts)
                for (const QuoteReplacer& rule : rules) {
                    QString expected = QString::fromStdU16String(rule.apply(text.toStdU16String()));
                    if (ends == LineEnds::Lf)
                        expected = expected.replace("\r\n", "\n").replace('\r', '\n') +
                                   (text.endsWith('\r') || text.endsWith('\n') ? "" : "\n");
                    folder.write("in.txt", encoded(text));
                    QVERIFY(ProcessFile(ToPath(in), ToPath(out), rule, {}, options).succeeded());
                    QCOMPARE(ReadBytes(out), encoded(expected));
                }
        }
        SetReadBlockSizeForTests(0);
        const QString same = folder.write("same.txt", encoded("\u00E9\n\r\r\nb\r"));
        QCOMPARE(ProcessFile(ToPath(same), ToPath(same), rules[0], {}, options).outcome == FileOutcome::Unchanged,
                 ends == LineEnds::Keep);
    }

#ifdef Q_OS_LINUX
    // A file replaced is kept under its name and the suffix: the very file, or a copy where it
    // is written into; an old backup is replaced; none is made for a file left as it is.
    void backupOfTheReplacedFile_data() {
        QTest::addColumn<QString>("situation");
        for (const char* situation :
             {"in place", "old backup", "output folder", "hard link", "unchanged", "folder"})
            QTest::newRow(situation) << QString::fromLatin1(situation);
    }
    void backupOfTheReplacedFile() {
        QFETCH(QString, situation);
        const FileOutcome outcome = situation == "unchanged" ? FileOutcome::Unchanged
                                    : situation == "folder"  ? FileOutcome::NotWritten
                                                             : FileOutcome::Written;
        TempFolder folder;
        const QByteArray original = situation == "unchanged" ? "a\r\n" : "\"a\"\n";
        const QString source = folder.write("f.txt", original);
        const QString out = situation == "output folder" ? folder.write("g.txt", original) : source;
        if (situation == "old backup")
            folder.write("f.txt.bak", "old\n");
        if (situation == "hard link")
            QCOMPARE(::link(QFile::encodeName(out), QFile::encodeName(folder.path("other"))), 0);
        if (situation == "folder") // the backup cannot be made: the file stays as it is
            QVERIFY(QDir(folder.root()).mkdir("f.txt.bak"));
        const struct stat before = StatusOf(out);
        const FileReport report =
            ProcessFile(ToPath(source), ToPath(out), QuoteReplacer(QuoteRule::RemoveDouble, {}, {}), {},
                        {LineEnds::CrLf, false, ".bak"});
        QCOMPARE(report.outcome, outcome);
        QCOMPARE(ReadBytes(out), outcome == FileOutcome::NotWritten ? original : "a\r\n");
        QCOMPARE(report.failure.reason,
                 situation == "folder" ? "its backup could not be made: Is a directory" : "");
        QCOMPARE(QFileInfo::exists(out + ".bak"), situation != "unchanged");
        if (outcome == FileOutcome::Written) {
            QCOMPARE(ReadBytes(out + ".bak"), original);
            QCOMPARE(StatusOf(out + ".bak").st_ino == before.st_ino, situation != "hard link");
            QCOMPARE(StatusOf(out + ".bak").st_mode, before.st_mode);
        }
        QCOMPARE(folder.entries().filter(".~pv"), QStringList()); // no temporary file left
    }
#endif

    // Every byte of windows-1252 except the line ends comes back as itself, the five
    // undefined ones included; in place, the identical result is not even written.
    void everyCodePageByteRoundTrips() {
        QByteArray bytes;
        for (int b = 1; b < 256; ++b)
            if (b != '\r' && b != '\n')
                bytes.append(char(b));
        bytes += "\r\n";
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("all.txt", bytes);
        const QuoteReplacer none(QuoteRule::None, {}, {});
        QCOMPARE(ProcessFileShowingFailures(path, path, none, prompts).outcome, FileOutcome::Unchanged);
        QCOMPARE(ProcessFileShowingFailures(path, folder.path("copy.txt"), none, prompts).outcome,
                 FileOutcome::Written);
        QCOMPARE(ReadBytes(folder.path("copy.txt")), bytes);
    }

    // Files left untouched, with the outcome and reason the run's summary shows.
    void untouched_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QString>("text");
        QTest::addColumn<FileOutcome>("outcome");
        QTest::addColumn<QString>("reason");
        QTest::newRow("binary") << QByteArray("\"a\"\0b", 5) << QString() << FileOutcome::NotText
                                << "NUL byte";
        QTest::newRow("bad UTF-8 after the mark") << QByteArray("\xEF\xBB\xBF\"\xFF\"") << QString()
                                                  << FileOutcome::NotText << "not valid UTF-8";
        QTest::newRow("replacement outside the code page")
            << QByteArray("caf\xE9 \"x\"") << QStringLiteral("\u2605") << FileOutcome::CannotHold
            << "windows-1252 cannot hold";
    }
    void untouched() {
        QFETCH(QByteArray, input);
        QFETCH(QString, text);
        QFETCH(FileOutcome, outcome);
        QFETCH(QString, reason);
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("f.txt", input);
        const FileReport report =
            ProcessFileShowingFailures(path, path, ruleOf(QuoteRule::DoubleToText, text, {}), prompts);
        QCOMPARE(report.outcome, outcome);
        QVERIFY2(ToQString(report.reason).contains(reason), report.reason.c_str());
        QCOMPARE(ReadBytes(path), input);
        QCOMPARE(folder.entries(), QStringList{"f.txt"});
        QCOMPARE(prompts.calls.size(), 0);
    }

    // A source that cannot be read never has its output written, not even with one
    // empty line.
    void unreadableSourceIsNeverWritten() {
        TempFolder folder;
        const QString source = folder.write("secret.txt", "\"a\"\r\n");
        const QString output = folder.write("out.txt", "keep me\r\n");
        QFile::setPermissions(source, QFileDevice::Permissions());
        QFile::setPermissions(output, QFileDevice::Permissions(0x6666));
        const int status = RunUnprivileged([&] {
            FakePrompts prompts;
            const FileReport report = ProcessFileShowingFailures(
                source, output, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}), prompts);
            return report.outcome == FileOutcome::NotRead ? 0 : 1;
        });
        QCOMPARE(status, 0);
        QCOMPARE(ReadBytes(output), QByteArray("keep me\r\n"));
    }

    void unwritableOutputIsReported() {
        TempFolder folder;
        FakePrompts prompts;
        const QString source = folder.write("in.txt", "\"a\"");
        const FileReport report =
            ProcessFileShowingFailures(source, folder.path("missing/out.txt"),
                        QuoteReplacer(QuoteRule::RemoveDouble, {}, {}), prompts);
        QCOMPARE(report.outcome, FileOutcome::NotWritten);
        QCOMPARE(prompts.errorTexts().size(), 1);
    }

    // In place, the result is compared with the bytes just read: the same bytes are not
    // written (time stamp and inode kept), one byte more, less or other is written.
    void inPlaceComparedWithTheBytesRead_data() {
        QTest::addColumn<QByteArray>("input");
        QTest::addColumn<QByteArray>("output");
        QTest::newRow("same") << QByteArray("a\r\nb\r\n") << QByteArray("a\r\nb\r\n");
        QTest::newRow("last line without its break")
            << QByteArray("a\r\nb") << QByteArray("a\r\nb\r\n");
        QTest::newRow("one byte less") << QByteArray("a\r\n\"b\r\n") << QByteArray("a\r\nb\r\n");
        QTest::newRow("last byte differs") << QByteArray("a\r\nb\n") << QByteArray("a\r\nb\r\n");
        QTest::newRow("UTF-8 with its mark, same")
            << QByteArray("\xEF\xBB\xBFx\r\n") << QByteArray("\xEF\xBB\xBFx\r\n");
        QTest::newRow("UTF-8 with its mark: a lone LF stays in its line")
            << QByteArray("\xEF\xBB\xBFx\n") << QByteArray("\xEF\xBB\xBFx\n\r\n");
        QTest::newRow("UTF-16, same")
            << QByteArray("\xFF\xFEx\0\r\0\n\0", 8) << QByteArray("\xFF\xFEx\0\r\0\n\0", 8);
    }
    void inPlaceComparedWithTheBytesRead() {
        QFETCH(QByteArray, input);
        QFETCH(QByteArray, output);
        TempFolder folder;
        FakePrompts prompts;
        const QString path = folder.write("f.txt", input);
        const QDateTime past = QDateTime::currentDateTime().addDays(-3);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite) &&
                file.setFileTime(past, QFileDevice::FileModificationTime));
        file.close();
        const FileReport report =
            ProcessFileShowingFailures(path, path, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}), prompts);
        QCOMPARE(report.outcome, input == output ? FileOutcome::Unchanged : FileOutcome::Written);
        QCOMPARE(ReadBytes(path), output);
        QCOMPARE(QFileInfo(path).lastModified().toSecsSinceEpoch() == past.toSecsSinceEpoch(),
                 input == output);
        QCOMPARE(folder.entries(), QStringList{"f.txt"});
    }

    // Bytes read from one file never stand for another: a second file of the same length
    // but other content, written with the first one's result, is written.
    void bytesReadAreOnlyThoseOfTheSameFile() {
        TempFolder folder;
        FakePrompts prompts;
        const QString first = folder.write("first.txt", "ab\r\n");
        const QString second = folder.write("second.txt", "xy\r\n");
        const QuoteReplacer none(QuoteRule::None, {}, {});
        QCOMPARE(ProcessFileShowingFailures(first, second, none, prompts).outcome, FileOutcome::Written);
        QCOMPARE(ReadBytes(second), QByteArray("ab\r\n"));
        // The same file through a symbolic link is the same file.
        QVERIFY(QFile::link(first, folder.path("link.txt")));
        QCOMPARE(
            ProcessFileShowingFailures(folder.path("link.txt"), folder.path("link.txt"), none, prompts).outcome,
            FileOutcome::Unchanged);
        QVERIFY(QFileInfo(folder.path("link.txt")).isSymLink());
    }
    // Between reading and replacing, the file read is swapped for a link, appended to by
    // another program or replaced, or a link appears at an output name: nothing is written,
    // the file is reported as changed (or as written by another program), and what the
    // change left stays.
    void changedWhileProcessed_data() {
        QTest::addColumn<int>("change");
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<QByteArray>("after"); // what the output name then holds
        QTest::newRow("in place: swapped for a link") << 0 << true << QByteArray("theirs\n");
        QTest::newRow("in place: appended to") << 1 << true << QByteArray("\"a\"\nmore\n");
        QTest::newRow("in place: replaced") << 2 << true << QByteArray("other\n");
        QTest::newRow("output name: a link appears") << 0 << false << QByteArray("theirs\n");
    }
    void changedWhileProcessed() {
        QFETCH(int, change);
        QFETCH(bool, inPlace);
        QFETCH(QByteArray, after);
        TempFolder folder;
        FakePrompts prompts;
        const QString source = folder.write("f.txt", "\"a\"\n");
        const QString victim = folder.write("victim.txt", "theirs\n");
        const QString output = inPlace ? source : folder.path("out.txt");
        std::optional<AppendingWriter> writer;
        AtomicFile::SetBeforeReplaceHook([&](const std::filesystem::path&) {
            if (change == 1) {
                writer.emplace(source, "more\n");
                QVERIFY(writer->leaseBroken());
                return;
            }
            const QString swapped = change == 0 ? victim : folder.write("new", "other\n");
            ::unlink(QFile::encodeName(output).constData());
            QVERIFY(change == 0 ? QFile::link(swapped, output) : QFile::rename(swapped, output));
        });
        const FileReport report =
            ProcessFileShowingFailures(source, output, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}), prompts);
        AtomicFile::SetBeforeReplaceHook({});
        QVERIFY(!writer || writer->wait());
        QCOMPARE(report.outcome, FileOutcome::Changed);
        QCOMPARE(prompts.errorTexts().size(), 1);
        QVERIFY(prompts.errorTexts()[0].contains(
            writer ? "another program is writing it" : "it changed while it was being processed"));
        QCOMPARE(ReadBytes(output), after);
        QCOMPARE(ReadBytes(victim), QByteArray("theirs\n"));
        QCOMPARE(folder.entries().size(), inPlace ? 2 : 3); // no temporary file
    }

    // In an output folder the result takes the name's place: a link there is replaced, never
    // followed; a pipe, socket or device there is refused without being opened.
    void outputNameHolds_data() {
        QTest::addColumn<QString>("linkTo"); // a link to this, or:
        QTest::addColumn<int>("special");    // a file of this kind
        QTest::newRow("link to another file") << "other.txt" << 0;
        QTest::newRow("dangling link") << "missing.txt" << 0;
        QTest::newRow("link to a device") << "null" << 0;
        QTest::newRow("link to the source, as cp -rs makes") << "f.txt" << 0;
        QTest::newRow("pipe") << QString() << int(S_IFIFO);
        QTest::newRow("socket") << QString() << int(S_IFSOCK);
        QTest::newRow("device") << QString() << int(S_IFCHR);
    }
    void outputNameHolds() {
        QFETCH(QString, linkTo);
        QFETCH(int, special);
        TempFolder folder;
        FakePrompts prompts;
        QVERIFY(QDir(folder.root()).mkdir("out"));
        const QString source = folder.write("f.txt", "\"a\"\n");
        folder.write("other.txt", "other\n");
        const QString output = folder.path("out/f.txt");
        const QString device =
            MakeSpecial(folder.path("null"), S_IFCHR) ? folder.path("null") : "/dev/null";
        if (special == S_IFCHR && device == "/dev/null")
            QSKIP("only root may make a device node at the output name");
        QVERIFY(special ? MakeSpecial(output, mode_t(special))
                        : QFile::link(linkTo == "null" ? device : folder.path(linkTo), output));
        std::atomic<bool> fired{false};
        std::jthread guard = special == S_IFIFO ? FreePipeLater(output, fired) : std::jthread();
        const FileReport report =
            ProcessFileShowingFailures(source, output, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}), prompts);
        guard = std::jthread();
        QVERIFY(!fired);
        QCOMPARE(report.outcome, special ? FileOutcome::NotWritten : FileOutcome::Written);
        QCOMPARE(FileType(output), special ? mode_t(special) : mode_t(S_IFREG));
        if (!special)
            QCOMPARE(ReadBytes(output), QByteArray("a\r\n"));
        QCOMPARE(prompts.errorTexts().size(), special ? 1 : 0);
        QCOMPARE(ReadBytes(source) + ReadBytes(folder.path("other.txt")),
                 QByteArray("\"a\"\nother\n"));
        QVERIFY(!QFileInfo::exists(folder.path("missing.txt")));
        QCOMPARE(FileType(device), mode_t(S_IFCHR));
        QCOMPARE(
            QDir(folder.path("out"))
                .entryList(QDir::AllEntries | QDir::System | QDir::Hidden | QDir::NoDotAndDotDot),
            QStringList{"f.txt"});
    }

    // In place, the system says where a name leads: with dl a link to real/a, both
    // dl/link.txt -> ../target.txt and dl/../target.txt lead to real/target.txt, not to the
    // target.txt beside dl (where the name read as text would lead).
    void linkResolvedByTheSystem_data() {
        QTest::addColumn<QString>("name");
        QTest::newRow("a link at the name's end") << "dl/link.txt";
        QTest::newRow("a link among its folders") << "dl/../target.txt";
    }
    void linkResolvedByTheSystem() {
        QFETCH(QString, name);
        TempFolder folder;
        FakePrompts prompts;
        QVERIFY(QDir(folder.root()).mkpath("real/a"));
        const QString real = folder.write("real/target.txt", "\"real\"\n");
        const QString beside = folder.write("target.txt", "\"unrelated\"\n");
        QVERIFY(QFile::link(folder.path("real/a"), folder.path("dl")));
        QCOMPARE(::symlink("../target.txt", QFile::encodeName(folder.path("real/a/link.txt"))), 0);
        const QString listed = folder.root() + '/' + name;
        QCOMPARE(
            ProcessFileShowingFailures(listed, listed, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}), prompts)
                .outcome,
            FileOutcome::Written);
        QCOMPARE(ReadBytes(real) + ReadBytes(beside), QByteArray("real\r\n\"unrelated\"\n"));
        QCOMPARE(QFileInfo(listed).isSymLink(), name.endsWith("link.txt"));
        QVERIFY(QFileInfo(folder.path("dl")).isSymLink());
        QCOMPARE(QDir(folder.path("real"))
                     .entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 (QStringList{"a", "target.txt"})); // no temporary file left
    }

#ifdef Q_OS_LINUX
    // In place, the result carries everything the file carried, and gives no one more
    // access; where a rename cannot serve, the file itself is written, so every name of it
    // sees the result; a file the user may not write, or that another program writes, is
    // left as it is. Rows marked unprivileged run as a user whom permissions stop.
    void replacedFileKeepsWhatItCarried_data() {
        QTest::addColumn<QString>("situation");
        QTest::addColumn<bool>("unprivileged");
        QTest::addColumn<FileOutcome>("outcome");
        const auto row = [](const char* name, bool unprivileged, FileOutcome outcome) {
            QTest::newRow(name) << QString::fromLatin1(name) << unprivileged << outcome;
        };
        row("access list", false, FileOutcome::Written);
        row("default list of the folder", false, FileOutcome::Written);
        row("user attribute", false, FileOutcome::Written);
        row("hard link", false, FileOutcome::Written);
        row("append-only folder", false, FileOutcome::Written);
        row("writable file in a locked folder", true, FileOutcome::Written);
        row("a file of another user", true, FileOutcome::NotWritten);
        row("open for writing elsewhere", false, FileOutcome::InUse);
    }
    void replacedFileKeepsWhatItCarried() {
        QFETCH(QString, situation);
        QFETCH(bool, unprivileged);
        QFETCH(FileOutcome, outcome);
        TempFolder folder;
        QVERIFY(QDir(folder.root()).mkdir("in"));
        const QString in = folder.path("in");
        const QString path = folder.write("in/f.txt", "\"a\"\n");
        const QByteArray native = QFile::encodeName(path);
        const QByteArray list = AccessListBytes({{UserObj, 6, NoId},
                                                 {NamedUser, 6, NobodyId},
                                                 {GroupObj, 0, NoId},
                                                 {Mask, 6, NoId},
                                                 {Other, 0, NoId}});
        std::optional<HeldOpenForWriting> writer;
        QCOMPARE(::chmod(native.constData(), 0600), 0);
        if (situation == "access list") {
            QVERIFY(SetAttribute(path, "system.posix_acl_access", list));
        } else if (situation == "default list of the folder") {
            QVERIFY(SetAttribute(in, "system.posix_acl_default",
                                 AccessListBytes({{UserObj, 7, NoId},
                                                  {NamedUser, 6, NobodyId},
                                                  {GroupObj, 5, NoId},
                                                  {Mask, 7, NoId},
                                                  {Other, 0, NoId}})));
            QCOMPARE(::chmod(native.constData(), 0640), 0);
        } else if (situation == "user attribute") {
            if (!SetAttribute(path, "user.note", "kept"))
                QSKIP("this file system keeps no user attributes");
        } else if (situation == "hard link") {
            QCOMPARE(
                ::link(native.constData(), QFile::encodeName(folder.path("other")).constData()), 0);
        } else if (situation == "append-only folder") {
            if (!RunningAsRoot())
                QSKIP("needs root to make a folder append-only");
            QVERIFY(SetAppendOnly(in, true));
        } else if (situation == "writable file in a locked folder") {
            QCOMPARE(::chmod(native.constData(), 0666) + ::chmod(QFile::encodeName(in), 0555), 0);
        } else if (situation == "a file of another user") {
            QCOMPARE(::chmod(native.constData(), 0644) + ::chmod(QFile::encodeName(in), 0777), 0);
        } else {
            writer.emplace(path);
            QVERIFY(writer->open());
        }
        const struct stat before = StatusOf(path);
        const auto run = [&] {
            FakePrompts prompts;
            const QuoteReplacer rule(QuoteRule::RemoveDouble, {}, {});
            return int(ProcessFileShowingFailures(path, path, rule, prompts).outcome);
        };
        const int got = unprivileged ? RunUnprivileged(run) : run();
        if (situation == "append-only folder")
            QVERIFY(SetAppendOnly(in, false));
        writer.reset();
        QCOMPARE(FileOutcome(got), outcome);
        const struct stat after = StatusOf(path);
        QCOMPARE(ReadBytes(path),
                 QByteArray(outcome == FileOutcome::Written ? "a\r\n" : "\"a\"\n"));
        QCOMPARE(after.st_uid, before.st_uid);
        QCOMPARE(after.st_mode, before.st_mode);
        QCOMPARE(Attribute(path, "system.posix_acl_access"),
                 situation == "access list" ? list : QByteArray());
        if (situation == "user attribute")
            QCOMPARE(Attribute(path, "user.note"), QByteArray("kept"));
        if (situation == "hard link")
            QCOMPARE(ReadBytes(folder.path("other")), QByteArray("a\r\n"));
        // Written into (or left as it was), the file is still the same file.
        if (situation != "access list" && situation != "default list of the folder" &&
            situation != "user attribute")
            QCOMPARE(after.st_ino, before.st_ino);
        QCOMPARE(QDir(in).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot),
                 QStringList{"f.txt"}); // nothing left beside it
    }
#endif

    // A user who may not give the result to the original's owner still gives it the
    // original's group, being a member of it; the permission bits stay.
    void groupKeptForAMember() {
        if (!RunningAsRoot())
            QSKIP("needs root to make an unprivileged member of a group");
        constexpr unsigned Group = 4242;
        TempFolder folder;
        const QString path = folder.write("shared.txt", "\"a\"\n");
        const QByteArray native = QFile::encodeName(path);
        QCOMPARE(::chown(native.constData(), 0, Group) + ::chmod(native.constData(), 0664), 0);
        const auto asMember = [&] {
            if (::chown(native.constData(), 0, Group) == 0)
                return 10; // the owner could be given away: no real denial
            FakePrompts prompts;
            const QuoteReplacer rule(QuoteRule::RemoveDouble, {}, {});
            return ProcessFileShowingFailures(path, path, rule, prompts).outcome == FileOutcome::Written ? 0 : 11;
        };
        QCOMPARE(RunUnprivileged(asMember, {Group}), 0);
        struct stat after {};
        QCOMPARE(::stat(native.constData(), &after), 0);
        QCOMPARE(after.st_uid, NobodyId);
        QCOMPARE(after.st_gid, Group);
        QCOMPARE(after.st_mode & 07777, 0664u);
        QCOMPARE(ReadBytes(path), QByteArray("a\r\n"));
    }
};

QTEST_GUILESS_MAIN(TestFileEngine)
#include "tst_fileengine.moc"
