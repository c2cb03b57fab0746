#pragma once

#include <QString>

namespace orlendo {

// Writes OUTDIR/<name>-<tab index>-<page>.png for every visible page of the window on file;
// the exit status of the run.
int WriteScreenshots(const QString& file, const QString& outDir);

} // namespace orlendo
