// The temporary file that replaces a target in one step: the target is replaced only at
// commit, with the permission bits it had, and no temporary file is ever left behind.
#include "base/filestatus.h"
#include "base/qtpaths.h"
#include "common/tempfiles.h"
#include "common/unprivileged.h"
#include "textio/atomicfile.h"
#include "textio/fileerror.h"
#include "textio/readonlyfile.h"
#include "textio/writebehind.h"

#include <QFileInfo>
#include <QtTest>

#include <system_error>
#include <thread>

#ifdef Q_OS_UNIX
#include <dirent.h>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

using namespace parvello;
using namespace parvello::testing;

namespace {

#ifdef Q_OS_UNIX
unsigned modeOf(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_mode & 07777
                                                                     : 0xFFFFFFFFu;
}

ino_t inodeOf(const QString& path) {
    struct stat status {};
    return ::stat(QFile::encodeName(path).constData(), &status) == 0 ? status.st_ino : 0;
}
#endif

// Whether the temporary file shows in its folder while it is written.
bool namedWhileWriting() {
#ifdef Q_OS_LINUX
    QFETCH_GLOBAL(bool, unnamed);
    return !unnamed;
#else
    return true;
#endif
}

} // namespace

class TestAtomicFile : public QObject {
    Q_OBJECT

private slots:
    // Every test with a file that has no name until the commit (where the system has such
    // files) and with a named one.
    void initTestCase_data() {
        QTest::addColumn<bool>("unnamed");
        QTest::newRow("unnamed where possible") << true;
        QTest::newRow("named") << false;
    }
    void init() {
        QFETCH_GLOBAL(bool, unnamed);
        AtomicFile::AllowUnnamedFiles(unnamed);
    }
    void cleanupTestCase() { AtomicFile::AllowUnnamedFiles(true); }

    void newTarget() {
        TempFolder folder;
        const QString target = folder.path("new.txt");
        AtomicFile file(ToPath(target));
        QVERIFY(file.open(false, 0));
        QVERIFY(file.write("abc", 3));
        QVERIFY(!QFileInfo::exists(target)); // nothing shows before the commit
        QCOMPARE(folder.entries().size(), namedWhileWriting() ? 1 : 0);
        QVERIFY(file.commit());
        QCOMPARE(ReadBytes(target), QByteArray("abc"));
        QCOMPARE(folder.entries(), QStringList{"new.txt"});
#ifdef Q_OS_UNIX
        // The bits of any new file: 0666 less the process's mask.
        const mode_t mask = ::umask(0);
        ::umask(mask);
        QCOMPARE(modeOf(target), unsigned(0666 & ~mask));
#endif
    }

    void replacesTargetKeepingItsBits() {
        TempFolder folder;
        const QString target = folder.write("t.txt", "old");
#ifdef Q_OS_UNIX
        QCOMPARE(::chmod(QFile::encodeName(target).constData(), 0640), 0);
        const ino_t before = inodeOf(target);
#endif
        AtomicFile file(ToPath(target));
        QVERIFY(file.open(true, 0640));
        QVERIFY(file.write("new bytes", 9));
        QCOMPARE(ReadBytes(target), QByteArray("old"));
        QCOMPARE(folder.entries().size(), namedWhileWriting() ? 2 : 1);
        QVERIFY(file.commit());
        QCOMPARE(ReadBytes(target), QByteArray("new bytes"));
        QCOMPARE(folder.entries(), QStringList{"t.txt"});
#ifdef Q_OS_UNIX
        QCOMPARE(modeOf(target), 0640u);
        QVERIFY(inodeOf(target) != before); // a new file took the old one's place
#endif
    }

    // Writes of every size around the blocks that go out behind, a rewind among them: the
    // target holds exactly the writes after the rewind, in order, whether each went out at
    // once or behind on a thread of its own.
    void writesInOrder_data() {
        QTest::addColumn<bool>("behind");
        QTest::newRow("at once") << false;
        QTest::newRow("written behind") << true;
    }
    void writesInOrder() {
        QFETCH(bool, behind);
        ForceWriteBehindForTests(behind);
        const auto normal = qScopeGuard([] { ForceWriteBehindForTests(false); });
        TempFolder folder;
        const QString target = folder.write("t.txt", "old");
        AtomicFile file(ToPath(target));
        QVERIFY(file.open(true, 0644));
        QByteArray expected;
        for (int round = 0; round < 2; ++round) {
            QVERIFY(round == 0 || file.rewind());
            expected.clear();
            for (const qsizetype size : {1, 7, 4096, 300000, 1, 262144, 70000, 524288, 3}) {
                QByteArray piece(size, Qt::Uninitialized);
                for (qsizetype i = 0; i < size; ++i)
                    piece[i] = char((expected.size() + i) * 131 % 251 + round);
                QVERIFY(file.write(piece.constData(), piece.size()));
                expected += piece;
            }
        }
        QVERIFY(file.commit());
        QCOMPARE(folder.entries(), QStringList{"t.txt"});
        QVERIFY(ReadBytes(target) == expected);
    }

#ifdef Q_OS_UNIX
    // A user at the system's limit of processes has no thread to spare for writing behind:
    // the writes are then made at once, and all of them arrive.
    void writesWithoutAThreadToSpare() {
        TempFolder folder;
        QCOMPARE(::chmod(QFile::encodeName(folder.root()).constData(), 0777), 0);
        const QString target = folder.path("t.txt");
        const QByteArray bytes(3 << 19, 'q');
        const auto atTheLimit = [&] {
            const rlimit none{0, 0};
            if (::setrlimit(RLIMIT_NPROC, &none) != 0)
                return 3;
            try {
                std::thread([]{}).join();
                return 4; // the limit holds nobody back here
            } catch (const std::system_error&) {
            }
            ForceWriteBehindForTests(true);
            AtomicFile file(ToPath(target));
            return file.open(false, 0) && file.write(bytes.constData(), bytes.size()) &&
                           file.write("end", 3) && file.commit()
                       ? 0
                       : 1;
        };
        // In a child of its own (the limit stays with it), as a user the limit holds.
        const int status = RunUnprivileged([&] {
            const pid_t child = ::fork();
            if (child == 0) {
                try {
                    ::_exit(atTheLimit());
                } catch (...) {
                    ::_exit(5);
                }
            }
            int result = 0;
            return ::waitpid(child, &result, 0) == child && WIFEXITED(result) ? WEXITSTATUS(result)
                                                                              : 2;
        });
        QCOMPARE(status, 0);
        QVERIFY(ReadBytes(target) == bytes + "end");
    }

    // A result larger than the process may write (ulimit -f) is a failed write, not the end
    // of the program; the target stays as it was and nothing is left beside it, whether the
    // result was to be renamed over the target or written into it.
    void fileSizeLimitFailsCleanly_data() {
        QTest::addColumn<bool>("into");
        QTest::newRow("renamed over the target") << false;
        QTest::newRow("written into the target") << true;
    }
    void fileSizeLimitFailsCleanly() {
        QFETCH(bool, into);
        TempFolder folder;
        const QString target = folder.write("t.txt", "old");
        const pid_t child = ::fork();
        if (child == 0) {
            const rlimit small{4096, 4096};
            if (::setrlimit(RLIMIT_FSIZE, &small) != 0)
                ::_exit(3);
            AtomicFile file(ToPath(target));
            const QByteArray bytes(8192, 'q');
            const bool opened = into ? file.openToWriteInto(FileIdentity::AtName(ToPath(target)))
                                     : file.open(true, 0644);
            if (!opened)
                ::_exit(4);
            // The write fails, or (written into) the commit, before the target changes.
            const bool written = file.write(bytes.constData(), bytes.size()) && file.commit();
            const bool named = file.errorString().find("too large") != std::string::npos;
            file.cancel(); // as the writer does on a failure
            ::_exit(!written && named ? 0 : 1);
        }
        int result = 0;
        QCOMPARE(::waitpid(child, &result, 0), child);
        QVERIFY(WIFEXITED(result));
        QCOMPARE(WEXITSTATUS(result), 0);
        QCOMPARE(ReadBytes(target), QByteArray("old"));
        QCOMPARE(folder.entries(), QStringList{"t.txt"});
    }
#endif

    void cancelledOrAbandonedLeavesTargetAlone() {
        TempFolder folder;
        const QString target = folder.write("t.txt", "old");
        {
            AtomicFile file(ToPath(target));
            QVERIFY(file.open(true, 0644));
            QVERIFY(file.write("x", 1));
            file.cancel();
            QCOMPARE(folder.entries(), QStringList{"t.txt"});
        }
        {
            AtomicFile file(ToPath(target));
            QVERIFY(file.open(true, 0644));
            QVERIFY(file.write("x", 1));
        } // gone without a commit
        QCOMPARE(folder.entries(), QStringList{"t.txt"});
        QCOMPARE(ReadBytes(target), QByteArray("old"));
    }

    // A commit that cannot move the file over its target reports why and cleans up.
    void failedCommitLeavesNoTemporaryFile() {
        TempFolder folder;
        const QString target = folder.path("busy");
        AtomicFile file(ToPath(target));
        QVERIFY(file.open(false, 0));
        QVERIFY(file.write("x", 1));
        // The target turns into a folder with something in it meanwhile.
        QVERIFY(QDir(folder.root()).mkdir(QStringLiteral("busy")));
        folder.write(QStringLiteral("busy/inner"), "keep");
        QVERIFY(!file.commit());
        QVERIFY(!file.errorString().empty());
        QCOMPARE(folder.entries(), QStringList{"busy"});
        QCOMPARE(ReadBytes(folder.path("busy/inner")), QByteArray("keep"));
    }

    void missingFolderFails() {
        TempFolder folder;
        AtomicFile file(ToPath(folder.path("missing/t.txt")));
        QVERIFY(!file.open(false, 0));
        QVERIFY(!file.errorString().empty());
    }

#ifdef Q_OS_UNIX
    // An unprivileged user names the finished file the way open to everyone.
    void unprivilegedUserWrites() {
        TempFolder folder;
        const QString existing = folder.write("old.txt", "old");
        QFile::setPermissions(existing, QFileDevice::Permissions(0x6666));
        const int status = RunUnprivileged([&] {
            AtomicFile created(ToPath(folder.path("new.txt")));
            if (!created.open(false, 0) || !created.write("new", 3) || !created.commit())
                return 1;
            AtomicFile replaced(ToPath(existing));
            if (!replaced.open(true, 0666) || !replaced.write("newer", 5) || !replaced.commit())
                return 2;
            return 0;
        });
        QCOMPARE(status, 0);
        QCOMPARE(ReadBytes(folder.path("new.txt")), QByteArray("new"));
        QCOMPARE(ReadBytes(existing), QByteArray("newer"));
        QCOMPARE(folder.entries(), (QStringList{"new.txt", "old.txt"}));
    }

    // Leftovers of a run that is gone are removed only when they are the running user's:
    // another user's file of such a name is theirs, though root could remove it.
    void leftoversOfOtherUsersAreSpared() {
        if (!RunningAsRoot())
            QSKIP("needs root to give a file to another user");
        const pid_t gone = ::fork();
        if (gone == 0)
            ::_exit(0);
        QCOMPARE(::waitpid(gone, nullptr, 0), gone);
        TempFolder folder;
        const QString prefix = QStringLiteral(".~pv%1-").arg(gone);
        folder.write(prefix + "Mine12", "mine");
        const QString theirs = folder.write(prefix + "Theirs", "theirs");
        QCOMPARE(::chown(QFile::encodeName(theirs).constData(), NobodyId, NobodyId), 0);
        AtomicFile file(ToPath(folder.path("t.txt")));
        QVERIFY(file.open(false, 0));
        file.cancel();
        QCOMPARE(folder.entries(), QStringList{prefix + "Theirs"});
    }

    // A folder that the user may not write: no temporary file, the system's reason.
    void unwritableFolderFails() {
        TempFolder folder;
        QVERIFY(QDir(folder.root()).mkdir(QStringLiteral("locked")));
        const QString target = folder.write(QStringLiteral("locked/t.txt"), "old");
        QFile::setPermissions(target, QFileDevice::Permissions(0x6666));
        QCOMPARE(::chmod(QFile::encodeName(folder.path("locked")).constData(), 0555), 0);
        const int status = RunUnprivileged([&] {
            AtomicFile file(ToPath(target));
            if (file.open(true, 0666))
                return 1;
            return file.errorString() == "Permission denied" ? 0 : 2;
        });
        QCOMPARE(status, 0);
        QCOMPARE(QDir(folder.path("locked")).entryList(QDir::Files | QDir::Hidden),
                 QStringList{"t.txt"});
        QCOMPARE(::chmod(QFile::encodeName(folder.path("locked")).constData(), 0755), 0);
    }

    // Names that are not UTF-8 reach the system as they are: the result replaces that very
    // file and is read back through it, and a missing one is named with its own bytes.
    void namesKeepTheirBytes() {
        TempFolder folder;
        const std::string at = QFile::encodeName(folder.root()).toStdString() + '/';
        for (const std::string name : {"plain.txt", "caf\xC3\xA9.txt", "bad\xFF\xFE.txt"}) {
            const std::filesystem::path target = at + name;
            const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0 && ::write(fd, "old", 3) == 3 && ::close(fd) == 0);
            AtomicFile file(target);
            QVERIFY(file.open(true, 0644) && file.write("new", 3) && file.commit());
            ReadOnlyFile read(target);
            char bytes[8] = {};
            QVERIFY(read.open() && read.read(bytes, 8) == 3);
            QCOMPARE(QByteArray(bytes, 3), QByteArray("new"));
            QVERIFY(FileStatus::Of(read.linkFreePath()).id == FileStatus::Of(target).id);
            try {
                ThrowOpenFailure("unused", at + "missing-" + name);
            } catch (const FileError& failure) {
                QCOMPARE(failure.problem(), FileProblem::FileNotFound);
                QCOMPARE(failure.description(), "File not found: " + at + "missing-" + name);
            }
        }
        // Nothing else was left there (Qt's own listing would skip the name it cannot hold).
        int entries = 0;
        DIR* dir = ::opendir(at.c_str());
        while (const dirent* entry = dir ? ::readdir(dir) : nullptr)
            entries += entry->d_name[0] != '.';
        if (dir)
            ::closedir(dir);
        QCOMPARE(entries, 3);
        for (const std::string name : {"plain.txt", "caf\xC3\xA9.txt", "bad\xFF\xFE.txt"})
            QCOMPARE(::unlink((at + name).c_str()), 0);
    }
#endif
};

QTEST_GUILESS_MAIN(TestAtomicFile)
#include "tst_atomicfile.moc"
