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
};
