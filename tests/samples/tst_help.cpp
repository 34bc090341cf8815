// The "Help" box.
#include "base/addresses.h"
#include "common/testwindow.h"
#include "filelist/filelistmodel.h"
#include "samples/helptext.h"

#include <QPushButton>
#include <QtTest>

using namespace parvello;
using namespace parvello::testing;

class TestHelp : public QObject {
    Q_OBJECT
private slots:
    void exactText();
    void yesOpensThePage();
    void noOpensNothing();
};

void TestHelp::exactText() {
    const QString page = QString::fromUtf8(addresses::QuotesReferencePage);
    const QString text = QuoteKindsMessage(page);
    const QStringList lines = text.split(QStringLiteral("\r\n"));
    const QStringList expected{
        QStringLiteral("Questions? Please contact\u00A0Team\u00A0Kestrilon\u00A0at\u00A0") +
            QString::fromUtf8(addresses::ContactPage),
        "",
        "This software will consider all 3 kinds of single quotes:",
        "'",
        "\u2018",
        "\u2019",
        "This software will consider all 3 kinds of double quotes:",
        "\"",
        "\u201C",
        "\u201D",
        "",
        "This is according to " + page,
        "Would you like me to open this website for you?"};
    QCOMPARE(lines, expected);
    QVERIFY(!text.contains(QLatin1Char('\r') + QString(QLatin1Char('\r'))));
}

void TestHelp::yesOpensThePage() {
    TestWindow w;
    Form1& form = w.load();
    form.listedFiles->Add(QStringLiteral("/a.txt"));
    w.store->writes.clear();
    w.prompts.answerYesNo(true);
    QTest::mouseClick(form.helpButton, Qt::LeftButton);
    QCOMPARE(w.prompts.calls.size(), 2);
    QCOMPARE(w.prompts.calls[0].kind, QStringLiteral("yesno"));
    QCOMPARE(w.prompts.calls[0].title, QStringLiteral("Parvello"));
    QCOMPARE(w.prompts.calls[0].icon, QStringLiteral("none"));
    QCOMPARE(w.prompts.calls[0].text,
             QuoteKindsMessage(QString::fromUtf8(addresses::QuotesReferencePage)));
    QCOMPARE(w.prompts.calls[1].kind, QStringLiteral("shell"));
    QCOMPARE(w.prompts.calls[1].text, QLatin1Char('"') +
                                          QString::fromUtf8(addresses::QuotesReferencePage) +
                                          QLatin1Char('"'));
    QCOMPARE(form.listedFiles->Count(), 1);
    QVERIFY(w.store->writes.isEmpty());
}

void TestHelp::noOpensNothing() {
    TestWindow w;
    Form1& form = w.load();
    w.prompts.answerYesNo(false);
    form.showHelp();
    QCOMPARE(w.prompts.calls.size(), 1);
    QCOMPARE(w.prompts.calls[0].kind, QStringLiteral("yesno"));
}

QTEST_MAIN(TestHelp)
#include "tst_help.moc"
