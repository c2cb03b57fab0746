// The Structure page: the storages and streams of the open compound file as they are stored,
// with the statistics of the selected element and a legend of the element kinds.
#pragma once

#include <QWidget>
#include <cstdint>
#include <string>
#include <vector>

#include "msg/compound_file.h"

class QTableWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace orlendo {

class TStructurePage : public QWidget {
  Q_OBJECT

public:
  // The labels of the statistics rows 1 to 11 (row 0 is a spacer).
  static const char* const kStatisticLabels[11];

  explicit TStructurePage(QWidget* parent = nullptr);
  ~TStructurePage() override;

  // Builds the tree of the compound file fileName (UTF-8 path) and selects its first element.
  // False, with the page emptied, when the file is not a compound file. A root storage that
  // cannot be opened raises its cfb::EOleError; a sub-storage that cannot be opened shows
  // without children.
  bool Build(const std::string& fileName);
  void Clear();

  QTreeWidget* StructureTree() const { return tvStructure; }
  QTableWidget* StatisticsGrid() const { return sgStructureItem; }

private:
  void tvStructureChange(QTreeWidgetItem* current);

  QTreeWidget* tvStructure;
  QTableWidget* sgStructureItem;
  QTreeWidget* tvLegend;
  // The statistics of every node, by the index each node carries.
  std::vector<cfb::EntryStat> stats_;
};

// A FILETIME as local date and time in the user's locale; empty for 0 or a time that does not
// convert.
std::string FormatFileTime(uint64_t fileTime);

} // namespace orlendo
