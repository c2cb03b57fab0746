#include "export/vcard_writer.h"

#include <cstdio>

#include "export/content_lines.h"
#include "export/item_accessors.h"
#include "model/stream.h"
#include "text/base64.h"
#include "text/qvmsgcp.h"

namespace orlendo {

namespace {

std::string Esc(const std::u16string& s) {
  return EscapeContentText(EncodeUtf8(s));
}

std::string DateText(TDateTime date) {
  const TDateTimeParts p = SplitDateTime(date);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d%02d%02d", p.Year, p.Month, p.Day);
  return buf;
}

class Card {
public:
  void Line(const std::string& line) { AppendContentLine(out_, line); }
  void Text(const char* name, std::u16string value) {
    while (!value.empty() && value.back() <= u' ')
      value.pop_back();
    if (!value.empty())
      Line(std::string(name) + ":" + Esc(value));
  }
  std::string Take() { return std::move(out_); }

private:
  std::string out_;
};

std::string Base64Line(const std::string& data) {
  std::string encoded = EncodeBase64(data);
  std::string out;
  out.reserve(encoded.size());
  for (char c : encoded)
    if (c != '\r' && c != '\n')
      out += c;
  return out;
}

void WriteContact(Card& card, const TContact& c) {
  card.Line("KIND:individual");
  std::u16string fn = c.DisplayName;
  if (fn.empty()) {
    for (const std::u16string* part :
         {&c.Prefix, &c.GivenName, &c.MiddleName, &c.Surname, &c.Suffix}) {
      if (!part->empty())
        fn += (fn.empty() ? u"" : u" ") + *part;
    }
  }
  if (fn.empty())
    fn = c.Company;
  card.Line("FN:" + Esc(fn));
  card.Line("N:" + Esc(c.Surname) + ";" + Esc(c.GivenName) + ";" + Esc(c.MiddleName) + ";" +
            Esc(c.Prefix) + ";" + Esc(c.Suffix));
  card.Text("NICKNAME", c.Nickname);
  if (!c.Company.empty() || !c.Department.empty())
    card.Line("ORG:" + Esc(c.Company) + (c.Department.empty() ? "" : ";" + Esc(c.Department)));
  card.Text("TITLE", c.JobTitle);
  for (size_t i = 0; i < c.Emails.size(); ++i) {
    card.Line(std::string("EMAIL") + (i == 0 ? ";PREF=1" : "") + ":" + Esc(c.Emails[i].Address));
  }
  for (const TContactPhone& phone : c.Phones) {
    const std::string kind = phone.Kind;
    std::string types;
    if (kind == "work" || kind == "home")
      types = kind + (phone.Fax ? ",fax" : ",voice");
    else if (kind == "cell" || kind == "pager" || kind == "textphone")
      types = kind;
    else if (phone.Fax)
      types = "fax";
    else
      types = "voice";
    card.Line("TEL;TYPE=" + types + ";VALUE=text:" + Esc(phone.Number));
  }
  for (const TContactAddress& a : c.Addresses) {
    const std::string kind = a.Kind;
    card.Line("ADR" + (kind == "other" ? std::string() : ";TYPE=" + kind) + ":" + Esc(a.PoBox) +
              ";;" + Esc(a.Street) + ";" + Esc(a.City) + ";" + Esc(a.State) + ";" +
              Esc(a.PostalCode) + ";" + Esc(a.Country));
  }
  for (const std::u16string& url : c.WebPages)
    card.Line("URL:" + EncodeUtf8(url));
  if (c.Birthday != 0)
    card.Line("BDAY:" + DateText(c.Birthday));
  if (c.Anniversary != 0)
    card.Line("ANNIVERSARY:" + DateText(c.Anniversary));
  card.Text("NOTE", c.Body);
  if (!c.Photo.empty())
    card.Line("PHOTO:data:" + c.PhotoType + ";base64," + Base64Line(c.Photo));
}

void WriteDistList(Card& card, const TDistList& list) {
  card.Line("KIND:group");
  card.Line("FN:" + Esc(list.Name));
  card.Text("NOTE", list.Body);
  for (const TDistListMember& m : list.Members)
    card.Line("MEMBER:mailto:" + EncodeUtf8(m.Address));
}

} // namespace

bool HasVCard(const TMSGProperties& level) {
  const TItemKind kind = GetItemKind(level);
  return kind == TItemKind::Contact || kind == TItemKind::DistributionList;
}

std::string MakeVCard(const TMSGProperties& level) {
  const TItemKind kind = GetItemKind(level);
  if (!HasVCard(level))
    throw EWrongItemKind(NotAContactMessage(level));
  Card card;
  card.Line("BEGIN:VCARD");
  card.Line("VERSION:4.0");
  card.Line("PRODID:-//Norvane Software//Orlendo " ORLENDO_VERSION "//EN");
  if (kind == TItemKind::Contact)
    WriteContact(card, ReadContact(level));
  else
    WriteDistList(card, ReadDistList(level));
  card.Line("END:VCARD");
  return card.Take();
}

void SaveToVCFFile(const TMSGProperties& level, const std::string& fileName) {
  const std::string text = MakeVCard(level);
  TFileStream file(fileName, TFileStream::Create);
  file.WriteString(text);
}

} // namespace orlendo
