// A window ready for "Start Removing": source files go into in/, results into out/ (the
// folder box names it), and the plain message boxes of the run can be listed.
#pragma once

#include "common/testwindow.h"
#include "filelist/filelistmodel.h"

#include <QLineEdit>

namespace parvello::testing {

struct RunWindow : TestWindow {
    QString in;
    QString out;
    RunWindow() {
        in = path(QStringLiteral("in"));
        out = path(QStringLiteral("out"));
        QDir().mkpath(in);
        QDir().mkpath(out);
        load();
        form->outputFolderBox->setText(out + QLatin1Char('/'));
    }
    // Writes a source file and adds it to the list.
    QString source(const QString& name, const QByteArray& content) {
        const QString file = in + QLatin1Char('/') + name;
        writeFile(file, content);
        form->listedFiles->Add(file);
        return file;
    }
    QStringList messages() const {
        QStringList texts;
        for (const PromptCall& call : prompts.callsOf(QStringLiteral("message")))
            texts << call.text;
        return texts;
    }
};

} // namespace parvello::testing
