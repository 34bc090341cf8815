// Lists in which a row's result would replace a file that a later row still has to read,
// for the window's run and parvello-cli alike. Below a root: in/a.txt holds "one" and
// out/a.txt "two", each with a quote; link/a.txt links to ../out/a.txt. Results go into
// out/, or in place; either way in/a.txt stays as it is and out/a.txt ends as "two".
#pragma once

#include "common/tempfiles.h"

namespace parvello::testing {

inline void listOrderRows() {
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<bool>("inPlace");
    QTest::addColumn<QString>("untouched"); // the row left untouched, if any
    QTest::newRow("result would replace a later row's file")
        << QStringList{"in/a.txt", "out/a.txt"} << false << "in/a.txt";
    QTest::newRow("that file listed through a link")
        << QStringList{"in/a.txt", "link/a.txt"} << false << "in/a.txt";
    QTest::newRow("that file listed again after being processed")
        << QStringList{"out/a.txt", "in/a.txt", "out/a.txt"} << false << "in/a.txt";
    QTest::newRow("one file twice in place, once through a link")
        << QStringList{"out/a.txt", "link/a.txt"} << true << QString();
}

inline void writeListOrderFiles(const QString& root) {
    QVERIFY(QDir(root).mkpath("in") && QDir(root).mkpath("out") && QDir(root).mkpath("link"));
    for (const char* name : {"in/a.txt", "out/a.txt"}) {
        QFile file(root + "/" + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(name[0] == 'i' ? "one\"" : "two\""));
    }
    QVERIFY(QFile::link("../out/a.txt", root + "/link/a.txt"));
}

} // namespace parvello::testing
