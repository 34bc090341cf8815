#include "filelist/filelistmodel.h"

#include "base/failure.h"

namespace parvello {

void FileListModel::AddColumn(const QString& header) {
    const int column = static_cast<int>(headers_.size());
    beginInsertColumns({}, column, column);
    headers_.append(header);
    endInsertColumns();
}

void FileListModel::Add(const QString& text) {
    const int row = Count();
    beginInsertRows({}, row, row);
    rows_.append(text);
    endInsertRows();
}

void FileListModel::AddMany(const QStringList& texts) {
    if (texts.isEmpty())
        return;
    const int row = Count();
    beginInsertRows({}, row, row + static_cast<int>(texts.size()) - 1);
    rows_.append(texts);
    endInsertRows();
}

void FileListModel::checkIndex(int index) const {
    if (index < 1 || index > Count())
        throw Failure(QStringLiteral("Index out of bounds"), 35600);
}

QString FileListModel::Item(int index) const {
    checkIndex(index);
    return rows_.at(index - 1);
}

void FileListModel::SetItem(int index, const QString& text) {
    checkIndex(index);
    rows_[index - 1] = text;
    const QModelIndex changed = this->index(index - 1, 0);
    emit dataChanged(changed, changed, {Qt::DisplayRole});
}

void FileListModel::Remove(int index) {
    checkIndex(index);
    beginRemoveRows({}, index - 1, index - 1);
    rows_.removeAt(index - 1);
    endRemoveRows();
}

void FileListModel::Clear() {
    beginResetModel();
    rows_.clear();
    endResetModel();
}

int FileListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : Count();
}

int FileListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(headers_.size());
}

QVariant FileListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= Count())
        return {};
    if (role == Qt::DisplayRole)
        return index.column() == 0 ? QVariant(rows_.at(index.row())) : QVariant();
    return {};
}

QVariant FileListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 &&
        section < headers_.size())
        return headers_.at(section);
    return {};
}

} // namespace parvello
