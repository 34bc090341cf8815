// One main window driven offscreen, with its own settings store, program folder and
// scripted boxes. A box that asked for an answer the test did not script fails the test.
#pragma once

#include "app/form1.h"
#include "common/fakeplatform.h"
#include "common/fakeprompts.h"
#include "common/recordingstore.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace parvello::testing {

struct FormWindow {
    QTemporaryDir dir;
    FakePrompts prompts;
    FakePlatform platform;
    std::unique_ptr<RecordingStore> store;
    std::unique_ptr<Form1> form;

    FormWindow() {
        QDir(dir.path()).mkpath(QStringLiteral("program"));
        platform.programFolderPath = dir.filePath(QStringLiteral("program"));
        store = std::make_unique<RecordingStore>(dir.filePath(QStringLiteral("config")));
    }
    ~FormWindow() {
        if (!prompts.unexpected.isEmpty())
            QTest::qFail(qPrintable(prompts.unexpected.join('\n')), __FILE__, __LINE__);
    }
    FormWindow(const FormWindow&) = delete;
    FormWindow& operator=(const FormWindow&) = delete;

    void preset(const QString& key, const QString& value) { store->real().save(key, value); }
    Form1& load() {
        form = std::make_unique<Form1>(prompts, platform, *store);
        form->Form_Load();
        return *form;
    }
    // Shown offscreen, so the list has its real size and rows their places.
    Form1& loadShown() {
        load();
        form->show();
        if (!QTest::qWaitForWindowExposed(form.get()))
            QTest::qFail("the window was not shown", __FILE__, __LINE__);
        return *form;
    }
    void programFile(const QString& name, const QByteArray& content) {
        const QString path = QDir(platform.programFolderPath).filePath(name);
        QDir().mkpath(QFileInfo(path).path());
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
    }
};

} // namespace parvello::testing
