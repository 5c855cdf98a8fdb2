#pragma once

#include "settings/ConnectionTable.h"

#include <QListWidget>

// The list box of phonebook entries that the phonebook synchronisation fills.
class EntryListBox final : public QListWidget, public EntryList {
    Q_OBJECT
    Q_DISABLE_COPY_MOVE(EntryListBox)

public:
    explicit EntryListBox(QWidget* parent = nullptr) : QListWidget(parent) {}

    void clear() override { QListWidget::clear(); }
    void addItem(const QString& name) override { QListWidget::addItem(name); }

protected:
    // Once an entry is chosen one stays chosen: Ctrl+click or Ctrl+Space never leaves none.
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override {
        const QItemSelectionModel::SelectionFlags flags = QListWidget::selectionCommand(index, event);
        if (!index.isValid() ||
            flags.testAnyFlags(QItemSelectionModel::Deselect | QItemSelectionModel::Toggle))
            return QItemSelectionModel::NoUpdate;
        return flags;
    }
};
