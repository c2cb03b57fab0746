// File > Print... and Print preview: the message on paper as its PDF shows it (the same pages
// that /E pdf writes), drawn page by page onto the printer the user picks.
#pragma once

#include <QByteArray>
#include <QString>

class QPrinter;
class QWidget;

namespace orlendo {

class TMSGProperties;

// Asks for a printer (paper of the locale preselected) and prints level on it. Errors are
// shown, never thrown.
void PrintMessageCommand(QWidget* parent, const TMSGProperties& level);

// The print preview of level; printing from it prints the pages shown.
void PrintPreviewCommand(QWidget* parent, const TMSGProperties& level);

// Draws each page of pdf on a page of printer, filling the paper (the PDF's pages carry their
// own margins). False with error when the PDF cannot be read or the printer cannot be drawn
// on.
bool PaintPdfPages(const QByteArray& pdf, QPrinter* printer, QString* error);

} // namespace orlendo
