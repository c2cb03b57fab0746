// The update check: fetches the version document over HTTP (with the desktop's proxy settings)
// and says whether a newer version exists. It blocks its caller like every command, but never
// longer than its time limits, and never throws: every outcome is a text to show.
#pragma once

#include <QString>
#include <functional>

namespace orlendo {

struct TUpdateOutcome {
  enum Kind {
    None,    // nothing to show: an empty answer, or the user cancelled the proxy logon
    Message, // a result: the version comparison, or that the document is not there
    Error,   // the check could not be made; Text says why
  };
  Kind kind = None;
  QString Text;
};

struct TUpdateCheckOptions {
  // Asks for proxy credentials; the default shows the logon dialog with the caption
  // "strQvInProxyLogon". Returning false cancels.
  std::function<bool(QString& user, QString& password)> ProxyLogon;
  // Longest silence of the connection, and longest time for the whole exchange.
  int StallTimeoutMs = 15000;
  int TotalTimeoutMs = 60000;
};

// Fetches url (http or https) with the agent name "Orlendo", always from the server, and
// compares its "<Program_Version>" with programVersion.
TUpdateOutcome CheckForUpdates(const QString& url, const QString& programVersion,
                               const TUpdateCheckOptions& options = {});

} // namespace orlendo
