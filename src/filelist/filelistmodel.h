// The rows of the file list: one full path per row, in the order of adding; duplicates
// are allowed. Rows are numbered from 1 in the list's own operations, as the handlers
// count them.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

namespace parvello {

class FileListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    using QAbstractTableModel::QAbstractTableModel;

    // The list's columns are created at start-up; until then it has none.
    void AddColumn(const QString& header);

    void Add(const QString& text);
    void AddMany(const QStringList& texts);
    int Count() const { return static_cast<int>(rows_.size()); }
    // The text of row `index`, counted from 1; fails outside 1..Count().
    QString Item(int index) const;
    void SetItem(int index, const QString& text);
    void Remove(int index);
    void Clear();
    const QStringList& Rows() const { return rows_; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

private:
    void checkIndex(int index) const;
    QStringList rows_;
    QStringList headers_;
};

} // namespace parvello
