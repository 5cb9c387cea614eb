// The parts both catalog windows are built of: the file list and the
// "Описание диска" panel of labelled values.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <QTreeWidget>
#include <span>

namespace kelvara {

// A list of whole rows, several selectable, with the given columns.
QTreeWidget* NewCatalogList(QWidget* parent, const QStringList& columns,
                            std::span<const int> widths);

// The "Описание диска" group: a label and a value a row; the value labels
// ("dv1", "dv2", ...) go into `values`, which sets how many rows there are.
QGroupBox* NewDescriptionPanel(QWidget* parent, const QStringList& labels,
                               std::span<QLabel*> values, int valueWidth);

// Lays a catalog window out: the list on the left, the panel and the
// "Закрыть" button (returned, for the caller to connect) on the right.
QPushButton* LayOutCatalogWindow(QWidget* window, QTreeWidget* list, QGroupBox* panel);

}  // namespace kelvara
