// The one file engine (ProcessFile) over real files: its bytes against the decoded road on
// random files, each road, line ends, backups, files left untouched, and what a replaced file
// keeps. Plain C++ over the engine: it runs on Linux and, built for Windows, under Wine, where
// what only POSIX can show (permission bits, links, pipes, leases, access lists) is skipped
// with its reason.
#include "common/otherwriter.h"
#include "common/plainfiles.h"
#include "common/plaintest.h"
#include "common/unprivileged.h"
#include "quotes/fileengine.h"
#include "textio/atomicfile.h"
#include "textio/reading.h"
#include "textio/textencoder.h"
#include "textio/textsource.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <iterator>
#include <optional>
#include <random>
#include <thread>
#include <tuple>

#if defined(PARVELLO_OS_UNIX)
#include <sys/stat.h>
#include <unistd.h>
#endif
#if defined(PARVELLO_OS_LINUX)
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/xattr.h>
#endif

using namespace parvello;
using namespace parvello::testing;

namespace {

// What a file becomes on the decoded road: every line decoded, through the rule, CR LF after
// it, encoded in the output's encoding. The reference for the engine, which works on the
// bytes of UTF-8 and code-page files without decoding them. Its count: the decoded quotes of
// the family whose result is not the quote itself.
FileReport decodedRoad(const fs::path& path, const QuoteReplacer& rule, std::string& bytes) {
    const LineArray lines = ReadWholeLines(path, LineForm::Text);
    if (lines.status == ReadStatus::NotText)
        return {FileOutcome::NotText, lines.problem};
    const TextEncoder encoder(OutputEncodingFor(lines));
    std::string encoded(encoder.mark());
    FileReport report(FileOutcome::Written, {});
    for (std::ptrdiff_t i = 0; i < lines.size(); ++i) {
        for (const char16_t c : lines[i])
            for (size_t q = 0; q < 3 && rule.rule() != QuoteRule::None; ++q)
                report.quotesChanged +=
                    c == rule.family()[q] && rule.result(q) != std::u16string(1, c);
        if (!encoder.append(rule.apply(lines[i]), encoded) || !encoder.append(u"\r\n", encoded))
            report.outcome = FileOutcome::CannotHold;
    }
    bytes = encoded;
    if (report.outcome == FileOutcome::CannotHold)
        report.reason = CannotHoldReason(OutputEncodingFor(lines));
    return report;
}

// Whether the window shows the failure in one box: a step of writing the output.
bool writeFailure(const FileFailure& failure) {
    return failure.step == FileStep::OpenOutput || failure.step == FileStep::Write ||
           failure.step == FileStep::Commit;
}

std::string repeated(const std::string& text, int times) {
    std::string all;
    for (int i = 0; i < times; ++i)
        all += text;
    return all;
}

std::string hex(const std::string& bytes) {
    std::string text;
    for (const char c : bytes) {
        char pair[4];
        std::snprintf(pair, sizeof pair, " %02x", unsigned(static_cast<unsigned char>(c)));
        text += pair;
    }
    return text;
}

// A modification time three days back, in whole seconds.
fs::file_time_type threeDaysAgo() {
    return std::chrono::time_point_cast<std::chrono::seconds>(fs::file_time_type::clock::now() -
                                                              std::chrono::hours(72));
}

#if defined(PARVELLO_OS_LINUX)
// An access list as the system keeps it in an extended attribute: a version, then one entry
// (tag, permission bits, user or group id) per line of `getfacl`, in the system's order.
std::string AccessListBytes(std::initializer_list<std::array<unsigned, 3>> entries) {
    std::string bytes;
    const auto put = [&](std::uint32_t value, int size) {
        for (int i = 0; i < size; ++i)
            bytes += char((value >> (8 * i)) & 0xFF);
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

std::string Attribute(const fs::path& path, const char* name) {
    char value[512];
    const ssize_t n = ::lgetxattr(path.c_str(), name, value, sizeof value);
    return n < 0 ? std::string() : std::string(value, size_t(n));
}

bool SetAttribute(const fs::path& path, const char* name, const std::string& value) {
    return ::lsetxattr(path.c_str(), name, value.data(), value.size(), 0) == 0;
}

// Sets or clears the append-only attribute of a folder (root only), as chattr does.
bool SetAppendOnly(const fs::path& folder, bool on) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_APPEND_FL : flags & ~FS_APPEND_FL;
    done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0)
        ::close(fd);
    return done;
}
#endif

#if defined(PARVELLO_OS_UNIX)
struct stat StatusOf(const fs::path& path) {
    struct stat status {};
    ::lstat(path.c_str(), &status);
    return status;
}
#endif

// Numbers below a bound from a fixed engine, the same on every system.
class Draws {
public:
    explicit Draws(unsigned seed) : engine_(seed) {}
    int bounded(int bound) { return int(engine_() % unsigned(bound)); }

private:
    std::mt19937 engine_;
};

// Random file contents from pieces that matter to the byte road: quotes of both families
// in UTF-8 and in windows-1252, other characters that share their first byte, line breaks
// of every kind, non-ASCII text, and now and then a NUL or a broken sequence.
std::string randomContent(Draws& random) {
    static const std::vector<std::string> pieces = {
        "plain words ", "\"", "'", "\xE2\x80\x9C", "\xE2\x80\x9D", "\xE2\x80\x98", "\xE2\x80\x99",
        // sharing a first or last byte with a
        // quote: an em dash, U+301C, Ü, U+301D and
        // a four-byte character ending in 98
        "\xE2\x80\x94\xE3\x80\x9C\xC3\x9C\xE3\x80\x9D"
        "\xF0\x9F\x80\x98",
        "\xE2\x80", "\xC3\xA9", "\xF0\x9F\x98\x80", "\r", "\n", "\r\n", "\x93", "\x94", "\x91",
        "\x92", "\xE9", "\x81", "\xEF\xBB\xBF", std::string(1, '\0'), "\x80", "\xE2"};
    static const std::vector<std::string> starts = {"",         "",        "", "\xEF\xBB\xBF",
                                                    "\xEF\xBB", "\xFF\xFE"};
    std::string content = starts[size_t(random.bounded(int(starts.size())))];
    // Most files keep to one encoding, so that they are text; some mix everything.
    const int family = random.bounded(4); // 0: UTF-8, 1: windows-1252, 2, 3: anything
    const int count = random.bounded(24);
    for (int k = 0; k < count; ++k) {
        int pick = random.bounded(int(pieces.size()));
        if (family == 0 && pick >= 14)
            pick = random.bounded(14);
        if (family == 1 && pick >= 3 && pick < 11)
            pick = 14 + random.bounded(6);
        if (family < 2 && pick >= 20)
            pick = 0;
        content += pieces[size_t(pick)];
        if (random.bounded(3) == 0)
            content += std::string(size_t(random.bounded(40)), char('a' + k % 26));
    }
    return content;
}

// Bytes decoded as UTF-8, each byte that begins no well-formed sequence as U+FFFD: the
// text of the comparison's UTF-16 files.
std::u16string decodedLoosely(const std::string& bytes) {
    std::u16string text;
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.data());
    for (size_t i = 0, n = bytes.size(); i < n;) {
        const unsigned lead = p[i];
        const size_t length = lead < 0x80   ? 1
                              : lead < 0xC2 ? 0
                              : lead < 0xE0 ? 2
                              : lead < 0xF0 ? 3
                              : lead < 0xF5 ? 4
                                            : 0;
        char32_t cp = length == 1 ? lead : lead & (0x7F >> length);
        bool good = length > 0 && i + length <= n;
        for (size_t k = 1; good && k < length; ++k) {
            good = (p[i + k] & 0xC0) == 0x80;
            cp = cp << 6 | (p[i + k] & 0x3F);
        }
        static constexpr char32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
        good = good && cp >= least[length] && cp <= 0x10FFFF && (cp < 0xD800 || cp > 0xDFFF);
        if (!good) {
            text += u'\uFFFD';
            ++i;
            continue;
        }
        text += U16(bytes.substr(i, length));
        i += length;
    }
    return text;
}

} // namespace

// The engine gives, for every rule and replacement text, exactly the bytes, outcome and count
// of the decoded road, on files of every kind (long ones too, and in UTF-16), read in blocks
// of any size; compared only, it tells whether they differ from the file.
PLAIN_TEST(sameAsDecodedRoad) {
    const std::vector<std::u16string> texts = {
        std::u16string(5000, u'x'), u"",       u"\u00AB",    u"''", u"\"", u"\u2605",
        u"x\u201Cy\u2019",          u"\u00E9", u"\U0001F600"};
    const QuoteRule rules[] = {QuoteRule::None,           QuoteRule::RemoveDouble,
                               QuoteRule::RemoveSingle,   QuoteRule::DoubleToSingle,
                               QuoteRule::SingleToDouble, QuoteRule::DoubleToText,
                               QuoteRule::SingleToText};
    TempFolder folder;
    Draws random(1208);
    const fs::path source = folder.path("in.txt");
    const fs::path output = folder.path("out.txt");
    const std::ptrdiff_t blocks[] = {0, 0, 1, 2, 3, 7, 64, 200};
    FileOptions compareOnly;
    compareOnly.compareOnly = true;
    for (int round = 0; round < 1500; ++round) {
        std::string content = repeated(randomContent(random), random.bounded(3) ? 1 : 40);
        if (random.bounded(8) == 0)
            content = "\xFF\xFE" + Utf16LE(decodedLoosely(content));
        const QuoteRule rule = rules[random.bounded(int(std::size(rules)))];
        const std::u16string& text = texts[size_t(random.bounded(int(texts.size())))];
        const QuoteReplacer replacer(rule, text, text);
        SetReadBlockSizeForTests(blocks[random.bounded(int(std::size(blocks)))]);
        folder.write("in.txt", content);
        fs::remove(output);
        std::string expected;
        const FileReport reference = decodedRoad(source, replacer, expected);
        const FileReport compared = ProcessFile(source, source, replacer, {}, compareOnly);
        const FileReport report = ProcessFile(source, output, replacer);
        if (report.outcome != reference.outcome ||
            (report.outcome == FileOutcome::Written && ReadBytes(output) != expected))
            std::printf("round %d rule %d text %s content%s\n", round, int(rule),
                        plaintest::quoted(text).c_str(), hex(content).c_str());
        COMPARE(report.outcome, reference.outcome);
        COMPARE(report.reason, reference.reason);
        COMPARE(ReadBytes(source), content);
        COMPARE(compared.outcome, reference.outcome != FileOutcome::Written ? reference.outcome
                                  : expected == content                     ? FileOutcome::Unchanged
                                                        : FileOutcome::WouldChange);
        if (reference.outcome != FileOutcome::NotText) {
            COMPARE(report.quotesChanged, reference.quotesChanged);
            COMPARE(compared.quotesChanged, reference.quotesChanged);
        }
        if (report.outcome == FileOutcome::Written)
            COMPARE(ReadBytes(output), expected);
        else
            VERIFY(!fs::exists(output));
        // No box: nothing failed.
        VERIFY(!report.failure);
        VERIFY(!compared.failure);
    }
    SetReadBlockSizeForTests(0);
}

// Compared only, nothing is made anywhere: a folder the user may not write and a file that
// is read-only still answer, whether the file is small (its bytes kept) or not.
PLAIN_TEST(comparedOnlyWritesNothing) {
    TempFolder folder;
    const std::string lines = repeated("a \"b\"\r\n", 20000);
    std::string same = lines;
    std::replace(same.begin(), same.end(), '"', ' ');
    const std::vector<fs::path> paths = {folder.write("large.txt", lines),
                                         folder.write("same.txt", same),
                                         folder.write("small.txt", "\"x\"\r\n")};
    for (const fs::path& path : paths)
        fs::permissions(path, fs::perms::owner_read | fs::perms::others_read);
    fs::permissions(folder.root(),
                    fs::perms::all & ~(fs::perms::owner_write | fs::perms::group_write |
                                       fs::perms::others_write));
    const int status = RunUnprivileged([&] {
        FileOptions options;
        options.compareOnly = true;
        int failed = 0;
        for (const auto& [k, outcome, quotes] : {std::tuple{0, FileOutcome::WouldChange, 40000},
                                                 {1, FileOutcome::Unchanged, 0},
                                                 {2, FileOutcome::WouldChange, 2}}) {
            const FileReport report =
                ProcessFile(paths[size_t(k)], paths[size_t(k)],
                            QuoteReplacer(QuoteRule::RemoveDouble, {}, {}), {}, options);
            failed |= int(report.outcome != outcome || report.quotesChanged != quotes) << k;
        }
        return failed;
    });
    fs::permissions(folder.root(), fs::perms::all);
    COMPARE(status, 0);
    COMPARE(folder.entries(), (std::vector<std::string>{"large.txt", "same.txt", "small.txt"}));
}

// One file through the engine, into another folder: the output's bytes per road.
PLAIN_TEST_DATA(roads) {
    plaintest::addColumn<std::string>("input");
    plaintest::addColumn<QuoteRule>("rule");
    plaintest::addColumn<std::u16string>("text");
    plaintest::addColumn<std::string>("output");
    using S = std::string;
    using T = std::u16string;
    const auto remove = QuoteRule::RemoveDouble;
    plaintest::newRow("code page gains CR LF on every line")
        << S("a \"b\"\nc \x93"
             "d\x94\re")
        << remove << T() << S("a b\r\nc d\r\ne\r\n");
    plaintest::newRow("empty file: one CR LF") << S() << remove << T() << S("\r\n");
    plaintest::newRow("UTF-8 mark: final CR LF stays one")
        << S("\xEF\xBB\xBF\"a\"\r\nb\r\n") << remove << T()
        << S("\xEF\xBB\xBF"
             "a\r\nb\r\n");
    plaintest::newRow("UTF-8 mark: LF-only file is one line") << S("\xEF\xBB\xBF"
                                                                   "a\nb")
                                                              << remove << T()
                                                              << S("\xEF\xBB\xBF"
                                                                   "a\nb\r\n");
    plaintest::newRow("UTF-8 mark: a second mark is text and stays")
        << S("\xEF\xBB\xBF\xEF\xBB\xBF\"a") << remove << T()
        << S("\xEF\xBB\xBF\xEF\xBB\xBF"
             "a\r\n");
    plaintest::newRow("mark-less UTF-8 stays UTF-8 with a non-ASCII replacement")
        << S("\xE2\x80\x9Chi\xE2\x80\x9D caf\xC3\xA9\n") << QuoteRule::DoubleToText << T(u"\u00AB")
        << S("\xC2\xAB"
             "hi\xC2\xAB caf\xC3\xA9\r\n");
    plaintest::newRow("UTF-16 LE stays UTF-16 LE")
        << S("\xFF\xFE") + Utf16LE(u"\u2018a\u2019\n") << QuoteRule::SingleToDouble << T()
        << S("\xFF\xFE") + Utf16LE(u"\u201Ca\u201D\r\n");
    plaintest::newRow("UTF-16 BE becomes UTF-16 LE")
        << S("\xFE\xFF\x00\"\x00"
             "a",
             6)
        << remove << T() << S("\xFF\xFE") + Utf16LE(u"a\r\n");
    plaintest::newRow("UTF-32 LE becomes UTF-16 LE")
        << S("\xFF\xFE\x00\x00"
             "a\x00\x00\x00\x00\xF6\x01\x00",
             12)
        << remove << T() << S("\xFF\xFE") + Utf16LE(u"a\U0001F600\r\n");
}
PLAIN_TEST(roads) {
    FETCH(std::string, input);
    FETCH(QuoteRule, rule);
    FETCH(std::u16string, text);
    FETCH(std::string, output);
    TempFolder folder;
    const fs::path source = folder.write("in.txt", input);
    const FileReport report =
        ProcessFile(source, folder.path("out.txt"), QuoteReplacer(rule, text, text));
    COMPARE(report.outcome, FileOutcome::Written);
    COMPARE(ReadBytes(folder.path("out.txt")), output);
    COMPARE(ReadBytes(source), input);
    VERIFY(!report.failure);
}

// Line ends made LF or kept, on every road, with the line breaks cut at block edges: each
// CR LF, lone CR and lone LF made LF and the last line ended, or all kept and none added
// (a file without quotes is then not written again).
PLAIN_TEST_DATA(lineEnds) {
    plaintest::addColumn<std::string>("road");
    plaintest::addColumn<LineEnds>("ends");
    for (const char* road : {"UTF-8 mark", "UTF-8", "UTF-16", "code page"})
        for (const LineEnds ends : {LineEnds::Lf, LineEnds::Keep})
            plaintest::addRow("%s, %d", road, int(ends)) << std::string(road) << ends;
}
PLAIN_TEST(lineEnds) {
    FETCH(std::string, road);
    FETCH(LineEnds, ends);
    const auto encoded = [&](const std::u16string& text) {
        if (road == "UTF-8 mark")
            return "\xEF\xBB\xBF" + Utf8(text);
        if (road == "UTF-8")
            return Utf8(text);
        if (road == "UTF-16")
            return "\xFF\xFE" + Utf16LE(text);
        std::string latin1;
        for (const char16_t c : text)
            latin1 += char(c);
        return latin1;
    };
    std::u16string longText;
    for (int i = 0; i < 9; ++i)
        longText += u"\u00E9 words \"q\"\r\nmore\rand\n\n";
    const std::u16string texts[] = {u"\u00E9\"a\"\r\nb\rc\n\nd\r\r\n\"e\u00E9", u"\u00E9\r",
                                    u"\u00E9\n\r", u"\u00E9\"\r\n\"", u"\r\n\r\u00E9\"\n", u"",
                                    // long enough for the vector passes
                                    longText};
    const QuoteReplacer rules[] = {{QuoteRule::RemoveDouble, {}, {}},
                                   {QuoteRule::DoubleToText, u"\u00AB\u00BB", {}},
                                   {QuoteRule::DoubleToText, std::u16string(4100, u'x'), {}}};
    TempFolder folder;
    const fs::path in = folder.path("in.txt"), out = folder.path("out.txt");
    const FileOptions options{ends, false, {}};
    for (const std::ptrdiff_t block : {1, 2, 3, 7, 0}) {
        SetReadBlockSizeForTests(block);
        for (const std::u16string& text : texts)
            for (const QuoteReplacer& rule : rules) {
                std::u16string expected = rule.apply(text);
                if (ends == LineEnds::Lf) {
                    std::u16string lf;
                    for (size_t i = 0; i < expected.size(); ++i)
                        if (expected[i] == u'\r' && i + 1 < expected.size() &&
                            expected[i + 1] == u'\n')
                            continue; // the LF after it stays
                        else
                            lf += expected[i] == u'\r' ? u'\n' : expected[i];
                    const bool endsWithBreak =
                        !text.empty() && (text.back() == u'\r' || text.back() == u'\n');
                    expected = lf + (endsWithBreak ? u"" : u"\n");
                }
                folder.write("in.txt", encoded(text));
                VERIFY(ProcessFile(in, out, rule, {}, options).succeeded());
                COMPARE(ReadBytes(out), encoded(expected));
            }
    }
    SetReadBlockSizeForTests(0);
    const fs::path same = folder.write("same.txt", encoded(u"\u00E9\n\r\r\nb\r"));
    COMPARE(ProcessFile(same, same, rules[0], {}, options).outcome == FileOutcome::Unchanged,
            ends == LineEnds::Keep);
}

#if defined(PARVELLO_OS_LINUX)
// A file replaced is kept under its name and the suffix: the very file, or a copy where it
// is written into; an old backup is replaced; none is made for a file left as it is.
PLAIN_TEST_DATA(backupOfTheReplacedFile) {
    plaintest::addColumn<std::string>("situation");
    for (const char* situation :
         {"in place", "old backup", "output folder", "hard link", "unchanged", "folder"})
        plaintest::newRow(situation) << std::string(situation);
}
PLAIN_TEST(backupOfTheReplacedFile) {
    FETCH(std::string, situation);
    const FileOutcome outcome = situation == "unchanged" ? FileOutcome::Unchanged
                                : situation == "folder"  ? FileOutcome::NotWritten
                                                         : FileOutcome::Written;
    TempFolder folder;
    const std::string original = situation == "unchanged" ? "a\r\n" : "\"a\"\n";
    const fs::path source = folder.write("f.txt", original);
    const fs::path out = situation == "output folder" ? folder.write("g.txt", original) : source;
    const fs::path backup = out.native() + ".bak";
    if (situation == "old backup")
        folder.write("f.txt.bak", "old\n");
    if (situation == "hard link")
        COMPARE(::link(out.c_str(), folder.path("other").c_str()), 0);
    if (situation == "folder") // the backup cannot be made: the file stays as it is
        VERIFY(fs::create_directory(folder.path("f.txt.bak")));
    const struct stat before = StatusOf(out);
    const FileReport report =
        ProcessFile(source, out, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}), {},
                    {LineEnds::CrLf, false, ".bak"});
    COMPARE(report.outcome, outcome);
    COMPARE(ReadBytes(out), outcome == FileOutcome::NotWritten ? original : "a\r\n");
    COMPARE(report.failure.reason,
            situation == "folder" ? "its backup could not be made: Is a directory" : "");
    COMPARE(fs::exists(backup), situation != "unchanged");
    if (outcome == FileOutcome::Written) {
        COMPARE(ReadBytes(backup), original);
        COMPARE(StatusOf(backup).st_ino == before.st_ino, situation != "hard link");
        COMPARE(StatusOf(backup).st_mode, before.st_mode);
    }
    for (const std::string& name : folder.entries()) // no temporary file left
        VERIFY(name.find(".~pv") == std::string::npos);
}
#else
PLAIN_TEST(backupOfTheReplacedFile) {
    SKIP("a backup as a hard link of the replaced file, told by its inode, is the Linux "
         "side's; the Windows side keeps no backups of its own yet");
}
#endif

// Every byte of windows-1252 except the line ends comes back as itself, the five undefined
// ones included; in place, the identical result is not even written.
PLAIN_TEST(everyCodePageByteRoundTrips) {
    std::string bytes;
    for (int b = 1; b < 256; ++b)
        if (b != '\r' && b != '\n')
            bytes += char(b);
    bytes += "\r\n";
    TempFolder folder;
    const fs::path path = folder.write("all.txt", bytes);
    const QuoteReplacer none(QuoteRule::None, {}, {});
    const FileReport inPlace = ProcessFile(path, path, none);
    COMPARE(inPlace.outcome, FileOutcome::Unchanged);
    const FileReport copied = ProcessFile(path, folder.path("copy.txt"), none);
    COMPARE(copied.outcome, FileOutcome::Written);
    COMPARE(ReadBytes(folder.path("copy.txt")), bytes);
    VERIFY(!inPlace.failure && !copied.failure);
}

// Files left untouched, with the outcome and reason the run's summary shows.
PLAIN_TEST_DATA(untouched) {
    plaintest::addColumn<std::string>("input");
    plaintest::addColumn<std::u16string>("text");
    plaintest::addColumn<FileOutcome>("outcome");
    plaintest::addColumn<std::string>("reason");
    plaintest::newRow("binary") << std::string("\"a\"\0b", 5) << std::u16string()
                                << FileOutcome::NotText << std::string("NUL byte");
    plaintest::newRow("bad UTF-8 after the mark")
        << std::string("\xEF\xBB\xBF\"\xFF\"") << std::u16string() << FileOutcome::NotText
        << std::string("not valid UTF-8");
    plaintest::newRow("replacement outside the code page")
        << std::string("caf\xE9 \"x\"") << std::u16string(u"\u2605") << FileOutcome::CannotHold
        << std::string("windows-1252 cannot hold");
}
PLAIN_TEST(untouched) {
    FETCH(std::string, input);
    FETCH(std::u16string, text);
    FETCH(FileOutcome, outcome);
    FETCH(std::string, reason);
    TempFolder folder;
    const fs::path path = folder.write("f.txt", input);
    const FileReport report =
        ProcessFile(path, path, QuoteReplacer(QuoteRule::DoubleToText, text, {}));
    COMPARE(report.outcome, outcome);
    if (report.reason.find(reason) == std::string::npos)
        COMPARE(report.reason, reason);
    COMPARE(ReadBytes(path), input);
    COMPARE(folder.entries(), std::vector<std::string>{"f.txt"});
    VERIFY(!report.failure);
}

// A source that cannot be read never has its output written, not even with one empty line.
// On POSIX it has no read permission for the user; on Windows another program holds it open
// and shares it with no one.
PLAIN_TEST(unreadableSourceIsNeverWritten) {
    TempFolder folder;
    const fs::path source = folder.write("secret.txt", "\"a\"\r\n");
    const fs::path output = folder.write("out.txt", "keep me\r\n");
#if defined(PARVELLO_OS_WINDOWS)
    const HANDLE holder = CreateFileW(source.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    VERIFY(holder != INVALID_HANDLE_VALUE);
#else
    fs::permissions(source, fs::perms::none);
    fs::permissions(output, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                                fs::perms::group_write | fs::perms::others_read |
                                fs::perms::others_write);
#endif
    const int status = RunUnprivileged([&] {
        const FileReport report =
            ProcessFile(source, output, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}));
        return report.outcome == FileOutcome::NotRead && report.failure.step == FileStep::Open ? 0
                                                                                               : 1;
    });
#if defined(PARVELLO_OS_WINDOWS)
    CloseHandle(holder);
#endif
    COMPARE(status, 0);
    COMPARE(ReadBytes(output), "keep me\r\n");
}

PLAIN_TEST(unwritableOutputIsReported) {
    TempFolder folder;
    const fs::path source = folder.write("in.txt", "\"a\"");
    const FileReport report = ProcessFile(source, folder.path("missing/out.txt"),
                                          QuoteReplacer(QuoteRule::RemoveDouble, {}, {}));
    COMPARE(report.outcome, FileOutcome::NotWritten);
    VERIFY(writeFailure(report.failure));
}

// In place, the result is compared with the bytes just read: the same bytes are not written
// (time stamp and inode kept), one byte more, less or other is written.
PLAIN_TEST_DATA(inPlaceComparedWithTheBytesRead) {
    plaintest::addColumn<std::string>("input");
    plaintest::addColumn<std::string>("output");
    using S = std::string;
    plaintest::newRow("same") << S("a\r\nb\r\n") << S("a\r\nb\r\n");
    plaintest::newRow("last line without its break") << S("a\r\nb") << S("a\r\nb\r\n");
    plaintest::newRow("one byte less") << S("a\r\n\"b\r\n") << S("a\r\nb\r\n");
    plaintest::newRow("last byte differs") << S("a\r\nb\n") << S("a\r\nb\r\n");
    plaintest::newRow("UTF-8 with its mark, same")
        << S("\xEF\xBB\xBFx\r\n") << S("\xEF\xBB\xBFx\r\n");
    plaintest::newRow("UTF-8 with its mark: a lone LF stays in its line")
        << S("\xEF\xBB\xBFx\n") << S("\xEF\xBB\xBFx\n\r\n");
    plaintest::newRow("UTF-16, same") << S("\xFF\xFEx\0\r\0\n\0", 8) << S("\xFF\xFEx\0\r\0\n\0", 8);
}
PLAIN_TEST(inPlaceComparedWithTheBytesRead) {
    FETCH(std::string, input);
    FETCH(std::string, output);
    TempFolder folder;
    const fs::path path = folder.write("f.txt", input);
    const fs::file_time_type past = threeDaysAgo();
    fs::last_write_time(path, past);
    const FileReport report =
        ProcessFile(path, path, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}));
    COMPARE(report.outcome, input == output ? FileOutcome::Unchanged : FileOutcome::Written);
    COMPARE(ReadBytes(path), output);
    COMPARE(fs::last_write_time(path) == past, input == output);
    COMPARE(folder.entries(), std::vector<std::string>{"f.txt"});
}

// Bytes read from one file never stand for another: a second file of the same length but
// other content, written with the first one's result, is written.
PLAIN_TEST(bytesReadAreOnlyThoseOfTheSameFile) {
    TempFolder folder;
    const fs::path first = folder.write("first.txt", "ab\r\n");
    const fs::path second = folder.write("second.txt", "xy\r\n");
    const QuoteReplacer none(QuoteRule::None, {}, {});
    COMPARE(ProcessFile(first, second, none).outcome, FileOutcome::Written);
    COMPARE(ReadBytes(second), "ab\r\n");
    // The same file through a symbolic link is the same file.
    std::error_code linked;
    fs::create_symlink(first, folder.path("link.txt"), linked);
    if (linked && UnderWine())
        SKIP("Wine makes no symbolic links here: the same file through a link is for Linux "
             "and real Windows to show");
    VERIFY(!linked);
    COMPARE(ProcessFile(folder.path("link.txt"), folder.path("link.txt"), none).outcome,
            FileOutcome::Unchanged);
    VERIFY(fs::is_symlink(folder.path("link.txt")));
}

// Between reading and replacing, the file's folder is moved away and another folder with a
// file of the same name takes its place: the result replaces the file that was read, where
// that file now is, and the newcomer at the old path stays as it was.
PLAIN_TEST(folderMovedWhileProcessed) {
#if defined(PARVELLO_OS_LINUX)
    TempFolder folder;
    fs::create_directory(folder.path("d"));
    const fs::path source = folder.write("d/f.txt", "\"a\"\n");
    std::error_code error;
    AtomicFile::SetBeforeReplaceHook([&](const std::filesystem::path&) {
        fs::rename(folder.path("d"), folder.path("moved"), error);
        if (!error && fs::create_directory(folder.path("d"), error))
            folder.write("d/f.txt", "theirs\n");
    });
    const FileReport report =
        ProcessFile(source, source, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}));
    AtomicFile::SetBeforeReplaceHook({});
    VERIFY(!error);
    COMPARE(report.outcome, FileOutcome::Written);
    COMPARE(ReadBytes(folder.path("moved/f.txt")), "a\r\n");
    COMPARE(ReadBytes(source), "theirs\n");
    for (const auto& entry : fs::directory_iterator(folder.path("moved"))) // no temporary file
        COMPARE(entry.path().filename().string(), std::string("f.txt"));
#else
    SKIP("the replace made in the folder that was opened, wherever it has gone, is the Linux "
         "side's; elsewhere the name is looked up again and a file moved away is not replaced");
#endif
}

// Files given one after another from one folder are looked up in that folder as it was opened
// for the first of them: when the folder is moved away between two of them and another takes
// its path, the second file is still the one that was listed, done where it now is, and the
// newcomer at the old path is left alone.
PLAIN_TEST(groupKeepsTheFolderOfItsFiles) {
#if defined(PARVELLO_OS_LINUX)
    TempFolder folder;
    fs::create_directory(folder.path("d"));
    const fs::path first = folder.write("d/f.txt", "\"a\"\n");
    const fs::path second = folder.write("d/g.txt", "\"b\"\n");
    const QuoteReplacer rule(QuoteRule::RemoveDouble, {}, {});
    std::vector<FileOutcome> outcomes;
    const auto done = [&](const FileReport& report) { outcomes.push_back(report.outcome); };
    {
        CommitGroup group;
        group.process(first, first, rule, {}, {}, done);
        fs::rename(folder.path("d"), folder.path("moved"));
        fs::create_directory(folder.path("d"));
        folder.write("d/g.txt", "theirs\n");
        group.process(second, second, rule, {}, {}, done);
    }
    COMPARE(outcomes.size(), size_t(2));
    COMPARE(outcomes[0], FileOutcome::Written);
    COMPARE(outcomes[1], FileOutcome::Written);
    COMPARE(ReadBytes(folder.path("moved/f.txt")), "a\r\n");
    COMPARE(ReadBytes(folder.path("moved/g.txt")), "b\r\n");
    COMPARE(ReadBytes(second), "theirs\n");
#else
    SKIP("files looked up in the folder that was opened, wherever it has gone, are the Linux "
         "side's");
#endif
}

// Between reading and replacing, the file read is swapped for a link, appended to by another
// program or replaced, or a link appears at an output name: nothing is written, the file is
// reported as changed (or as written by another program), and what the change left stays.
PLAIN_TEST_DATA(changedWhileProcessed) {
    plaintest::addColumn<int>("change");
    plaintest::addColumn<bool>("inPlace");
    plaintest::addColumn<std::string>("after"); // what the output name then holds
    plaintest::newRow("in place: swapped for a link") << 0 << true << std::string("theirs\n");
    plaintest::newRow("in place: appended to") << 1 << true << std::string("\"a\"\nmore\n");
    plaintest::newRow("in place: replaced") << 2 << true << std::string("other\n");
    plaintest::newRow("output name: a link appears") << 0 << false << std::string("theirs\n");
}
PLAIN_TEST(changedWhileProcessed) {
    FETCH(int, change);
    FETCH(bool, inPlace);
    FETCH(std::string, after);
#if defined(PARVELLO_OS_WINDOWS)
    if (change == 0)
        SKIP("a symbolic link made in the file's place is for Linux and real Windows to show "
             "(Wine makes none)");
    if (change == 1)
        SKIP("another program appending, told by a broken read lease, is the Linux side's");
#endif
    TempFolder folder;
    const fs::path source = folder.write("f.txt", "\"a\"\n");
    const fs::path victim = folder.write("victim.txt", "theirs\n");
    const fs::path output = inPlace ? source : folder.path("out.txt");
#if defined(PARVELLO_OS_UNIX)
    std::optional<AppendingWriter> writer;
#else
    std::optional<bool> writer;
#endif
    bool hookFailed = false;
    AtomicFile::SetBeforeReplaceHook([&](const std::filesystem::path&) {
#if defined(PARVELLO_OS_UNIX)
        if (change == 1) {
            writer.emplace(source, "more\n");
            hookFailed = !writer->leaseBroken();
            return;
        }
#endif
        const fs::path swapped = change == 0 ? victim : folder.write("new", "other\n");
        std::error_code error;
        fs::remove(output, error);
        if (change == 0)
            fs::create_symlink(swapped, output, error);
        else
            fs::rename(swapped, output, error);
        hookFailed = bool(error);
    });
    const FileReport report =
        ProcessFile(source, output, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}));
    AtomicFile::SetBeforeReplaceHook({});
#if defined(PARVELLO_OS_UNIX)
    VERIFY(!writer || writer->wait());
#endif
    VERIFY(!hookFailed);
    COMPARE(report.outcome, FileOutcome::Changed);
    VERIFY(writeFailure(report.failure));
    const std::string said =
        writer ? "another program is writing it" : "it changed while it was being processed";
    if (report.failure.description.find(said) == std::string::npos)
        COMPARE(report.failure.description, said);
    COMPARE(ReadBytes(output), after);
    COMPARE(ReadBytes(victim), "theirs\n");
    COMPARE(folder.entries().size(), inPlace ? 2 : 3); // no temporary file
}

#if defined(PARVELLO_OS_UNIX)
// In an output folder the result takes the name's place: a link there is replaced, never
// followed; a pipe, socket or device there is refused without being opened.
PLAIN_TEST_DATA(outputNameHolds) {
    plaintest::addColumn<std::string>("linkTo"); // a link to this, or:
    plaintest::addColumn<int>("special");        // a file of this kind
    plaintest::newRow("link to another file") << std::string("other.txt") << 0;
    plaintest::newRow("dangling link") << std::string("missing.txt") << 0;
    plaintest::newRow("link to a device") << std::string("null") << 0;
    plaintest::newRow("link to the source, as cp -rs makes") << std::string("f.txt") << 0;
    plaintest::newRow("pipe") << std::string() << int(S_IFIFO);
    plaintest::newRow("socket") << std::string() << int(S_IFSOCK);
    plaintest::newRow("device") << std::string() << int(S_IFCHR);
}
PLAIN_TEST(outputNameHolds) {
    FETCH(std::string, linkTo);
    FETCH(int, special);
    TempFolder folder;
    VERIFY(fs::create_directory(folder.path("out")));
    const fs::path source = folder.write("f.txt", "\"a\"\n");
    folder.write("other.txt", "other\n");
    const fs::path output = folder.path("out/f.txt");
    const fs::path device =
        MakeSpecial(folder.path("null"), S_IFCHR) ? folder.path("null") : "/dev/null";
    if (special == S_IFCHR && device == "/dev/null")
        SKIP("only root may make a device node at the output name");
    VERIFY(special ? MakeSpecial(output, mode_t(special))
                   : ::symlink((linkTo == "null" ? device : folder.path(linkTo)).c_str(),
                               output.c_str()) == 0);
    std::atomic<bool> fired{false};
    std::jthread guard = special == S_IFIFO ? FreePipeLater(output, fired) : std::jthread();
    const FileReport report =
        ProcessFile(source, output, QuoteReplacer(QuoteRule::RemoveDouble, {}, {}));
    guard = std::jthread();
    VERIFY(!fired);
    COMPARE(report.outcome, special ? FileOutcome::NotWritten : FileOutcome::Written);
    COMPARE(FileType(output), special ? mode_t(special) : mode_t(S_IFREG));
    if (!special)
        COMPARE(ReadBytes(output), "a\r\n");
    COMPARE(writeFailure(report.failure), bool(special));
    COMPARE(bool(report.failure), bool(special));
    COMPARE(ReadBytes(source) + ReadBytes(folder.path("other.txt")), "\"a\"\nother\n");
    VERIFY(!fs::exists(folder.path("missing.txt")));
    COMPARE(FileType(device), mode_t(S_IFCHR));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path("out")))
        names.push_back(entry.path().filename().string());
    COMPARE(names, std::vector<std::string>{"f.txt"});
}

// In place, the system says where a name leads: with dl a link to real/a, both
// dl/link.txt -> ../target.txt and dl/../target.txt lead to real/target.txt, not to the
// target.txt beside dl (where the name read as text would lead).
PLAIN_TEST_DATA(linkResolvedByTheSystem) {
    plaintest::addColumn<std::string>("name");
    plaintest::newRow("a link at the name's end") << std::string("dl/link.txt");
    plaintest::newRow("a link among its folders") << std::string("dl/../target.txt");
}
PLAIN_TEST(linkResolvedByTheSystem) {
    FETCH(std::string, name);
    TempFolder folder;
    VERIFY(fs::create_directories(folder.path("real/a")));
    const fs::path real = folder.write("real/target.txt", "\"real\"\n");
    const fs::path beside = folder.write("target.txt", "\"unrelated\"\n");
    fs::create_symlink(folder.path("real/a"), folder.path("dl"));
    COMPARE(::symlink("../target.txt", folder.path("real/a/link.txt").c_str()), 0);
    const fs::path listed = folder.root().native() + '/' + name;
    COMPARE(ProcessFile(listed, listed, QuoteReplacer(QuoteRule::RemoveDouble, {}, {})).outcome,
            FileOutcome::Written);
    COMPARE(ReadBytes(real) + ReadBytes(beside), "real\r\n\"unrelated\"\n");
    COMPARE(fs::is_symlink(listed), name.ends_with("link.txt"));
    VERIFY(fs::is_symlink(folder.path("dl")));
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder.path("real")))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    COMPARE(names, (std::vector<std::string>{"a", "target.txt"})); // no temporary file left
}
#else
PLAIN_TEST_DATA(onPosixOnly) {
    plaintest::addColumn<std::string>("why");
    plaintest::newRow("outputNameHolds")
        << std::string("links, pipes, sockets and devices at an output name are POSIX "
                       "files; Wine makes none of them");
    plaintest::newRow("linkResolvedByTheSystem")
        << std::string("a name that leads through symbolic links needs links, which Wine "
                       "does not make");
}
PLAIN_TEST(onPosixOnly) {
    FETCH(std::string, why);
    SKIP(why);
}
#endif

#if defined(PARVELLO_OS_LINUX)
// In place, the result carries everything the file carried, and gives no one more access;
// where a rename cannot serve, the file itself is written, so every name of it sees the
// result; a file the user may not write, or that another program writes, is left as it is.
// Rows marked unprivileged run as a user whom permissions stop.
PLAIN_TEST_DATA(replacedFileKeepsWhatItCarried) {
    plaintest::addColumn<std::string>("situation");
    plaintest::addColumn<bool>("unprivileged");
    plaintest::addColumn<FileOutcome>("outcome");
    const auto row = [](const char* name, bool unprivileged, FileOutcome outcome) {
        plaintest::newRow(name) << std::string(name) << unprivileged << outcome;
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
PLAIN_TEST(replacedFileKeepsWhatItCarried) {
    FETCH(std::string, situation);
    FETCH(bool, unprivileged);
    FETCH(FileOutcome, outcome);
    TempFolder folder;
    VERIFY(fs::create_directory(folder.path("in")));
    const fs::path in = folder.path("in");
    const fs::path path = folder.write("in/f.txt", "\"a\"\n");
    const char* native = path.c_str();
    const std::string list = AccessListBytes({{UserObj, 6, NoId},
                                              {NamedUser, 6, NobodyId},
                                              {GroupObj, 0, NoId},
                                              {Mask, 6, NoId},
                                              {Other, 0, NoId}});
    std::optional<HeldOpenForWriting> writer;
    COMPARE(::chmod(native, 0600), 0);
    if (situation == "access list") {
        VERIFY(SetAttribute(path, "system.posix_acl_access", list));
    } else if (situation == "default list of the folder") {
        VERIFY(SetAttribute(in, "system.posix_acl_default",
                            AccessListBytes({{UserObj, 7, NoId},
                                             {NamedUser, 6, NobodyId},
                                             {GroupObj, 5, NoId},
                                             {Mask, 7, NoId},
                                             {Other, 0, NoId}})));
        COMPARE(::chmod(native, 0640), 0);
    } else if (situation == "user attribute") {
        if (!SetAttribute(path, "user.note", "kept"))
            SKIP("this file system keeps no user attributes");
    } else if (situation == "hard link") {
        COMPARE(::link(native, folder.path("other").c_str()), 0);
    } else if (situation == "append-only folder") {
        if (!RunningAsRoot())
            SKIP("needs root to make a folder append-only");
        VERIFY(SetAppendOnly(in, true));
    } else if (situation == "writable file in a locked folder") {
        COMPARE(::chmod(native, 0666) + ::chmod(in.c_str(), 0555), 0);
    } else if (situation == "a file of another user") {
        COMPARE(::chmod(native, 0644) + ::chmod(in.c_str(), 0777), 0);
    } else {
        writer.emplace(path);
        VERIFY(writer->open());
    }
    const struct stat before = StatusOf(path);
    const auto run = [&] {
        const QuoteReplacer rule(QuoteRule::RemoveDouble, {}, {});
        return int(ProcessFile(path, path, rule).outcome);
    };
    const int got = unprivileged ? RunUnprivileged(run) : run();
    if (situation == "append-only folder")
        VERIFY(SetAppendOnly(in, false));
    writer.reset();
    COMPARE(FileOutcome(got), outcome);
    const struct stat after = StatusOf(path);
    COMPARE(ReadBytes(path), outcome == FileOutcome::Written ? "a\r\n" : "\"a\"\n");
    COMPARE(after.st_uid, before.st_uid);
    COMPARE(after.st_mode, before.st_mode);
    COMPARE(Attribute(path, "system.posix_acl_access"),
            situation == "access list" ? list : std::string());
    if (situation == "user attribute")
        COMPARE(Attribute(path, "user.note"), "kept");
    if (situation == "hard link")
        COMPARE(ReadBytes(folder.path("other")), "a\r\n");
    // Written into (or left as it was), the file is still the same file.
    if (situation != "access list" && situation != "default list of the folder" &&
        situation != "user attribute")
        COMPARE(after.st_ino, before.st_ino);
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(in))
        names.push_back(entry.path().filename().string());
    COMPARE(names, std::vector<std::string>{"f.txt"}); // nothing left beside it
}
#else
PLAIN_TEST(replacedFileKeepsWhatItCarried) {
    SKIP("access lists, extended attributes, append-only folders and a read lease against "
         "another writer are the Linux side's; Wine keeps none of them");
}
#endif

// A user who may not give the result to the original's owner still gives it the original's
// group, being a member of it; the permission bits stay.
PLAIN_TEST(groupKeptForAMember) {
    if (!RunningAsRoot())
        SKIP("needs root to make an unprivileged member of a group");
#if defined(PARVELLO_OS_UNIX)
    constexpr unsigned Group = 4242;
    TempFolder folder;
    const fs::path path = folder.write("shared.txt", "\"a\"\n");
    const char* native = path.c_str();
    COMPARE(::chown(native, 0, Group) + ::chmod(native, 0664), 0);
    const auto asMember = [&] {
        if (::chown(native, 0, Group) == 0)
            return 10; // the owner could be given away: no real denial
        const QuoteReplacer rule(QuoteRule::RemoveDouble, {}, {});
        return ProcessFile(path, path, rule).outcome == FileOutcome::Written ? 0 : 11;
    };
    COMPARE(RunUnprivileged(asMember, {Group}), 0);
    struct stat after {};
    COMPARE(::stat(native, &after), 0);
    COMPARE(after.st_uid, NobodyId);
    COMPARE(after.st_gid, Group);
    COMPARE(after.st_mode & 07777, 0664u);
    COMPARE(ReadBytes(path), "a\r\n");
#endif
}
