// Lists in which one row's result would replace a file that a later row still has to read,
// for the window's run and parvello-cli alike. Below a root: in/a.txt holds "one" and
// out/a.txt "two", each with a quote to remove; link/a.txt is a symbolic link to
// ../out/a.txt. Results go into out/, or in place.
#pragma once

#include "common/tempfiles.h"

namespace parvello::testing {

inline void listOrderRows() {
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<QStringList>("untouched"); // in the order the run names them
    QTest::addColumn<QByteArray>("outA");       // out/a.txt afterwards
    const QStringList none;
    QTest::newRow("result would replace a later row's file")
        << QStringList{"in/a.txt", "out/a.txt"} << false << QStringList{"in/a.txt"}
        << QByteArray("two\r\n");
    QTest::newRow("that file listed through a link")
        << QStringList{"in/a.txt", "link/a.txt"} << false << QStringList{"in/a.txt"}
        << QByteArray("two\r\n");
    QTest::newRow("that file listed again after being processed")
        << QStringList{"out/a.txt", "in/a.txt", "out/a.txt"} << false << QStringList{"in/a.txt"}
        << QByteArray("two\r\n");
    QTest::newRow("that file listed before")
        << QStringList{"out/a.txt", "in/a.txt"} << false << none << QByteArray("one\r\n");
    QTest::newRow("one file twice in place, once through a link")
        << QStringList{"out/a.txt", "link/a.txt"} << true << none << QByteArray("two\r\n");
}

inline void writeListOrderFiles(const QString& root) {
    QVERIFY(QDir().mkpath(root + "/in") && QDir().mkpath(root + "/out") &&
            QDir().mkpath(root + "/link"));
    for (const auto& [name, text] :
         {std::pair{"/in/a.txt", "one\""}, std::pair{"/out/a.txt", "two\""}}) {
        QFile file(root + QLatin1String(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(text) > 0);
    }
    QVERIFY(QFile::link("../out/a.txt", root + "/link/a.txt"));
}

} // namespace parvello::testing
