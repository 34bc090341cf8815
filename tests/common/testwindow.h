// One main window for a test: its own settings store and program folder in a temporary
// folder, scripted boxes, and a fixed platform. A box that asked for an answer the test
// did not script fails the test.
#pragma once

#include "app/form1.h"
#include "common/fakeplatform.h"
#include "common/fakeprompts.h"
#include "common/recordingstore.h"

#include <QDir>
#include <QFile>
#include <QRadioButton>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace parvello::testing {

struct TestWindow {
    QTemporaryDir dir;
    FakePrompts prompts;
    FakePlatform platform;
    std::unique_ptr<RecordingStore> store;
    std::unique_ptr<Form1> form;

    TestWindow() {
        QDir(dir.path()).mkpath(QStringLiteral("program"));
        platform.programFolderPath = dir.filePath(QStringLiteral("program"));
        store = std::make_unique<RecordingStore>(dir.filePath(QStringLiteral("config")));
    }
    ~TestWindow() {
        if (!prompts.unexpected.isEmpty())
            QTest::qFail(qPrintable(prompts.unexpected.join('\n')), __FILE__, __LINE__);
    }
    // Stores a value before the window starts.
    void preset(const QString& key, const QString& value) { store->real().save(key, value); }
    Form1& load() {
        form = std::make_unique<Form1>(prompts, platform, *store);
        form->Form_Load();
        return *form;
    }
    QList<QRadioButton*> ruleOptions() const {
        return {form->removeDoubleOption,   form->removeSingleOption, form->doubleToSingleOption,
                form->singleToDoubleOption, form->doubleToTextOption, form->singleToTextOption};
    }
    // Writes a file into the program folder.
    void programFile(const QString& name, const QByteArray& content) {
        writeFile(QDir(platform.programFolderPath).filePath(name), content);
    }
    // A path inside the test's temporary folder.
    QString path(const QString& relative) const { return dir.filePath(relative); }

    static void writeFile(const QString& path, const QByteArray& content) {
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY2(file.open(QIODevice::WriteOnly), qPrintable(path));
        file.write(content);
    }
    static QByteArray readFile(const QString& path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
};

} // namespace parvello::testing
