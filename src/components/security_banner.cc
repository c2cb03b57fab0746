#include "components/security_banner.h"

#include <QStringList>

#include "app/message_strings.h"
#include "components/interface_locale.h"
#include "text/datetime.h"

namespace orlendo {

namespace {

QString Text(const char* key) {
  return QString::fromStdString(MessageString(key));
}

QString Filled(const char* key, const QString& value) {
  QString text = Text(key);
  const qsizetype at = text.indexOf(QLatin1String("%s"));
  return at < 0 ? text + QLatin1Char(' ') + value : text.replace(at, 2, value);
}

QString Signer(const TSignatureStatus& status) {
  const QString name = QString::fromStdString(status.SignerName).simplified();
  const QString address = QString::fromStdString(status.SignerAddress).simplified();
  if (name.isEmpty() && address.isEmpty())
    return Text("strSignerUnknown");
  if (name.isEmpty())
    return address;
  return address.isEmpty() || name == address ? name : name + " <" + address + ">";
}

int Rank(TBannerTone tone) {
  switch (tone) {
  case TBannerTone::Bad:
    return 3;
  case TBannerTone::Warning:
    return 2;
  case TBannerTone::Good:
    return 1;
  default:
    return 0;
  }
}

void Worsen(TBannerTone& tone, TBannerTone other) {
  if (Rank(other) > Rank(tone))
    tone = other;
}

} // namespace

QString SecurityBannerText(const TMessageSecurity& security, TBannerTone& tone) {
  tone = TBannerTone::Info;
  QStringList lines;
  for (const TSignatureStatus& status : security.Signatures) {
    QString line = Filled("strSignedBy", Signer(status));
    if (status.HasSigningTime) {
      const TDateTime utc = UnixMsToDateTime(status.SigningTime * 1000);
      line +=
          QLatin1Char(' ') + Filled("strSignedAt", InterfaceDateTimeText(UtcToLocalDateTime(utc)));
    }
    line += QLatin1String(". ");
    const QString reason = QString::fromStdString(status.Reason);
    switch (status.Verdict) {
    case TSignatureVerdict::Valid:
      line += Text("strSignatureValid");
      Worsen(tone, TBannerTone::Good);
      break;
    case TSignatureVerdict::Invalid:
      line += Text("strSignatureInvalid");
      Worsen(tone, TBannerTone::Bad);
      break;
    case TSignatureVerdict::Untrusted:
      line += Filled("strSignatureUntrusted", reason);
      Worsen(tone, TBannerTone::Warning);
      break;
    case TSignatureVerdict::CannotCheck:
      line += Filled("strSignatureUnchecked", reason);
      Worsen(tone, TBannerTone::Warning);
      break;
    }
    lines << line;
  }
  if (security.Encrypted) {
    if (security.Decrypted) {
      lines << Text("strDecryptedShown");
    } else {
      QStringList recipients;
      for (const TEncryptionRecipient& r : security.Recipients) {
        const QString issuer = QString::fromStdString(r.Issuer);
        const QString serial = QString::fromStdString(r.Serial);
        recipients << (issuer.isEmpty() ? serial : issuer + " (" + serial + ")");
      }
      lines << Filled("strEncryptedTo",
                      recipients.isEmpty() ? Text("strRecipientUnknown") : recipients.join("; "));
    }
  }
  return lines.join(QLatin1Char('\n'));
}

} // namespace orlendo
