// The failure trap and the "Application Error" box text.
#include "base/addresses.h"
#include "base/failure.h"
#include "common/fakeprompts.h"

#include <QtTest>

using namespace parvello;
using parvello::testing::FakePrompts;

namespace {
const QString Tag = QStringLiteral("Qwellan2021/08/31.Form1.Form_Load");

// A helper without a trap of its own: its failure belongs to the caller's step.
int failingHelper() {
    throw Failure(QStringLiteral("Helper failed"));
}
} // namespace

class TestFailure : public QObject {
    Q_OBJECT
private slots:
    void boxText();
    void tags();
    void stepsResumeAfterFailure();
    void failedTestRunsGuardedSteps();
    void failureInHelperNamesCallersLine();
    void foreignExceptionsAreDescribed();
    void handlerBoundary();
    void suspendedTrapLetsHandlersReportThemselves();
    void faultInjection();
};

void TestFailure::boxText() {
    const QString text = ErrorBoxText(QStringLiteral("Type mismatch"), Tag, 132);
    QCOMPARE(text, QStringLiteral("Type mismatch\r\nin Qwellan2021/08/31.Form1.Form_Load at line "
                                  "132\r\rPlease email screenshot of this message to ") +
                       QString::fromUtf8(addresses::SupportEmail));
    QVERIFY(ErrorBoxText(QStringLiteral("x"), Tag, 7).contains(QStringLiteral(" at line 7\r\r")));
}

void TestFailure::tags() {
    QCOMPARE(FormTag(QStringLiteral("PushButton2_Click")),
             QStringLiteral("Qwellan2021/08/31.Form1.PushButton2_Click"));
    QCOMPARE(ModuleTag(QStringLiteral("RFTSFSO"), QStringLiteral("AppendStringFSO")),
             QStringLiteral("Qwellan2021/08/31.RFTSFSO.AppendStringFSO"));
}

void TestFailure::stepsResumeAfterFailure() {
    FakePrompts prompts;
    QStringList ran;
    int produced = 41;
    {
        Trap trap(prompts, Tag);
        trap.step(100, [&] { ran << "100"; });
        trap.step(102, [&] {
            throw Failure(QStringLiteral("First"));
            produced = 0; // never reached: the value keeps its previous content
        });
        trap.step(104, [&] { ran << "104"; });
        trap.step(106, [&] { throw Failure(QStringLiteral("Second")); });
        trap.step(108, [&] { ran << "108"; });
    }
    QCOMPARE(ran, (QStringList{"100", "104", "108"}));
    QCOMPARE(produced, 41);
    QCOMPARE(prompts.errorTexts().size(), 2);
    QVERIFY(prompts.errorTexts()[0].startsWith(QStringLiteral("First\r\nin ") + Tag +
                                               " at line 102\r\r"));
    QVERIFY(prompts.errorTexts()[1].startsWith(QStringLiteral("Second\r\nin ") + Tag +
                                               " at line 106\r\r"));
    QCOMPARE(prompts.calls[0].title, QStringLiteral("Application Error"));
    QCOMPARE(prompts.calls[0].icon, QStringLiteral("warning"));
}

void TestFailure::failedTestRunsGuardedSteps() {
    FakePrompts prompts;
    QStringList ran;
    Trap trap(prompts, Tag);
    if (trap.test(150, [&]() -> bool { throw Failure(QStringLiteral("Test failed")); }))
        trap.step(152, [&] { ran << "152"; });
    else
        trap.step(154, [&] { ran << "154"; });
    QCOMPARE(ran, QStringList{"152"});
    QCOMPARE(prompts.errorTexts().size(), 1);
    QVERIFY(prompts.errorTexts()[0].contains(QStringLiteral(" at line 150\r\r")));
    QVERIFY(!trap.test(156, [] { return false; }));
}

void TestFailure::failureInHelperNamesCallersLine() {
    FakePrompts prompts;
    Trap trap(prompts, FormTag(QStringLiteral("PushButton1_Click")));
    trap.step(110, [] { failingHelper(); });
    QCOMPARE(prompts.errorTexts().size(), 1);
    QVERIFY(prompts.errorTexts()[0].startsWith(QStringLiteral(
        "Helper failed\r\nin Qwellan2021/08/31.Form1.PushButton1_Click at line 110")));
}

void TestFailure::foreignExceptionsAreDescribed() {
    FakePrompts prompts;
    Trap trap(prompts, Tag);
    trap.step(100, [] { throw std::runtime_error("disk on fire"); });
    trap.step(102, [] { throw 42; });
    QCOMPARE(prompts.errorTexts().size(), 2);
    QVERIFY(prompts.errorTexts()[0].startsWith(QStringLiteral("disk on fire\r\n")));
    QVERIFY(prompts.errorTexts()[1].startsWith(QStringLiteral("Unknown failure\r\n")));
}

void TestFailure::handlerBoundary() {
    FakePrompts prompts;
    const QString handlerTag = FormTag(QStringLiteral("Text2_Change"));
    const auto failing = [] { throw Failure(QStringLiteral("Cannot write the settings")); };

    // Outside any trap: the handler's own box, line 0.
    RunHandler(prompts, handlerTag, failing);
    QCOMPARE(prompts.errorTexts().size(), 1);
    QVERIFY(prompts.errorTexts()[0].startsWith(QStringLiteral(
        "Cannot write the settings\r\nin Qwellan2021/08/31.Form1.Text2_Change at line 0\r\r")));

    // Raised from inside a trapped step: the trapped caller reports it with its line,
    // and the rest of that step is abandoned.
    prompts.calls.clear();
    bool restOfStepRan = false;
    bool nextStepRan = false;
    {
        Trap trap(prompts, Tag);
        trap.step(156, [&] {
            RunHandler(prompts, handlerTag, failing);
            Trap::rethrowPending();
            restOfStepRan = true;
        });
        trap.step(158, [&] { nextStepRan = true; });
    }
    QVERIFY(!restOfStepRan);
    QVERIFY(nextStepRan);
    QCOMPARE(prompts.errorTexts().size(), 1);
    QVERIFY(prompts.errorTexts()[0].contains(QStringLiteral("in ") + Tag + " at line 156\r\r"));
}

void TestFailure::suspendedTrapLetsHandlersReportThemselves() {
    FakePrompts prompts;
    Trap trap(prompts, Tag);
    trap.step(120, [&] {
        Trap::Suspend events; // as while pending events are handled during a long run
        RunHandler(prompts, FormTag(QStringLiteral("Option3_Click")),
                   [] { throw Failure(QStringLiteral("Refused")); });
    });
    QCOMPARE(prompts.errorTexts().size(), 1);
    QVERIFY(prompts.errorTexts()[0].contains(QStringLiteral("Option3_Click at line 0")));
}

void TestFailure::faultInjection() {
    FakePrompts prompts;
    Trap::setFaultInjector([](const QString& tag, int line) {
        if (tag == Tag && line == 104)
            throw Failure(QStringLiteral("Injected"));
    });
    bool ran = false;
    {
        Trap trap(prompts, Tag);
        trap.step(104, [&] { ran = true; });
        trap.step(106, [] {});
    }
    Trap::setFaultInjector({});
    QVERIFY(!ran);
    QCOMPARE(prompts.errorTexts().size(), 1);
}

QTEST_APPLESS_MAIN(TestFailure)
#include "tst_failure.moc"
