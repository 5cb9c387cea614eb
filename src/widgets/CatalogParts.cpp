#include "widgets/CatalogParts.h"

#include <QBoxLayout>
#include <QGridLayout>

namespace kelvara {

QTreeWidget* NewCatalogList(QWidget* parent, const QStringList& columns,
                            std::span<const int> widths) {
  auto* list = new QTreeWidget(parent);
  list->setObjectName("lv");
  list->setRootIsDecorated(false);
  list->setUniformRowHeights(true);
  list->setSelectionMode(QAbstractItemView::ExtendedSelection);
  list->setSelectionBehavior(QAbstractItemView::SelectRows);
  list->setAllColumnsShowFocus(true);
  list->setHeaderLabels(columns);
  for (int i = 0; i < list->columnCount() && i < static_cast<int>(widths.size()); ++i)
    list->setColumnWidth(i, widths[i]);
  return list;
}

QGroupBox* NewDescriptionPanel(QWidget* parent, const QStringList& labels,
                               std::span<QLabel*> values, int valueWidth) {
  auto* group = new QGroupBox("Описание диска", parent);
  group->setObjectName("gb");
  auto* grid = new QGridLayout(group);
  for (size_t i = 0; i < values.size(); ++i) {
    const int row = static_cast<int>(i);
    grid->addWidget(
        new QLabel(i < static_cast<size_t>(labels.size()) ? labels[row] : QString(), group), row,
        0);
    values[i] = new QLabel(group);
    values[i]->setObjectName(QString("dv%1").arg(i + 1));
    values[i]->setMinimumWidth(valueWidth);
    grid->addWidget(values[i], row, 1);
  }
  return group;
}

QPushButton* LayOutCatalogWindow(QWidget* window, QTreeWidget* list, QGroupBox* panel) {
  auto* close = new QPushButton("Закрыть", window);
  close->setObjectName("bClose");
  close->setAutoDefault(false);
  auto* right = new QVBoxLayout;
  right->addWidget(panel);
  right->addStretch();
  right->addWidget(close);
  auto* layout = new QHBoxLayout(window);
  layout->addWidget(list, 1);
  layout->addLayout(right);
  return close;
}

}  // namespace kelvara
