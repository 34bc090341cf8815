#include "app/widgetprompts.h"

#include "base/failure.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QInputDialog>
#include <QMessageBox>
#include <QUrl>

namespace parvello {

QString DisplayText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}

QString DialogFilter(const QString& pipeFilter) {
    const QStringList parts = pipeFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
#ifndef Q_OS_WIN
        // "*.*" means every file on Windows; elsewhere names need not hold a dot.
        pattern.replace(QStringLiteral("*.*"), QStringLiteral("*"));
#endif
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        QString description = parts[i];
        const qsizetype paren = description.indexOf(QLatin1Char('('));
        if (paren > 0)
            description = description.left(paren).trimmed();
        filters << description + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return filters.join(QStringLiteral(";;"));
}

void WidgetPrompts::message(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), DisplayText(text), QMessageBox::Ok,
                    owner_);
    box.exec();
}

bool WidgetPrompts::askYesNo(const QString& text) {
    QMessageBox box(QMessageBox::NoIcon, ApplicationTitle(), DisplayText(text),
                    QMessageBox::Yes | QMessageBox::No, owner_);
    return box.exec() == QMessageBox::Yes;
}

void WidgetPrompts::applicationError(const QString& text) {
    QMessageBox box(QMessageBox::Warning, QStringLiteral("Application Error"), DisplayText(text),
                    QMessageBox::Ok, owner_);
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

QString WidgetPrompts::inputBox(const QString& prompt, const QString& title,
                                const QString& defaultAnswer) {
    bool ok = false;
    const QString answer =
        QInputDialog::getText(owner_, title.isEmpty() ? ApplicationTitle() : title,
                              DisplayText(prompt), QLineEdit::Normal, defaultAnswer, &ok);
    return ok ? answer : QString();
}

QString WidgetPrompts::openFiles(const QString& title, const QString& filter) {
    const QStringList files =
        QFileDialog::getOpenFileNames(owner_, title, QString(), DialogFilter(filter));
    if (files.isEmpty())
        return QString();
    QStringList native;
    for (const QString& file : files)
        native << QDir::toNativeSeparators(file);
    const QString selection = OpenFileSelectionText(native);
    if (selection.size() > MaxSelectionLength)
        throw Failure(QStringLiteral("The selection is too long for the file name buffer"),
                      failure_numbers::SelectionTooLong);
    return selection;
}

QString WidgetPrompts::browseForFolder(const QString& prompt, const QString& startFolder) {
    const QString folder = QFileDialog::getExistingDirectory(owner_, prompt, startFolder);
    if (folder.isEmpty())
        return QString();
    QString native = QDir::toNativeSeparators(QDir::cleanPath(folder));
    return native;
}

void WidgetPrompts::shellOpen(const QString& target) {
    QString plain = target;
    if (plain.size() >= 2 && plain.startsWith(QLatin1Char('"')) && plain.endsWith(QLatin1Char('"')))
        plain = plain.mid(1, plain.size() - 2);
    const QUrl url =
        plain.contains(QStringLiteral("://")) || plain.startsWith(QStringLiteral("mailto:"))
            ? QUrl(plain)
            : QUrl::fromLocalFile(plain);
    QDesktopServices::openUrl(url);
}

} // namespace parvello
