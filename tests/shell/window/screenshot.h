#pragma once

#include <QString>

namespace orlendo {

// Writes OUTDIR/<name>-<tab index>-<page>.png for every visible page of the window on file,
// and OUTDIR/options-<page index>-<page>.png for every page of the Options dialog; with
// language (a language file's path relative to the languages folder's parent, such as
// "languages/german.lng") the window is translated first. The exit status of the run.
int WriteScreenshots(const QString& file, const QString& outDir, const QString& language = {});

} // namespace orlendo
