# What a mail client shows of an Internet message, by Python's email package (policy default):
# the plain and HTML bodies (get_body) and the attachments, as one JSON object per file named on
# the command line. Tests compare this view of an original with that of the EML we write, and
# with the attachment list of the preview.
#
# Attachments are the leaf parts that a client does not show as a body: not the chosen bodies,
# not an alternative that was not chosen, not a text part shown inline after the first body, not
# a signature, not a resource that the HTML body uses by cid: or Content-Location. A
# message/rfc822 part is one attachment (its inner parts are its own).
import email
import hashlib
import json
import sys
from email import policy

SHOWN_TEXT = ("text/plain", "text/html")


def text_of(part):
    if part is None:
        return ""
    try:
        if part.get_param("charset") is None:
            # Undeclared: UTF-8 when it is, else Latin-1, as mail clients read such text.
            raise LookupError
        text = part.get_content()
    except Exception:
        data = part.get_payload(decode=True) or b""
        try:
            text = data.decode("utf-8")
        except UnicodeDecodeError:
            text = data.decode("latin-1")
    if isinstance(text, bytes):
        text = text.decode("utf-8", "replace")
    # Line ends and the white space at the ends do not make a different body.
    return text.replace("\r\n", "\n").replace("\r", "\n").strip()


def filename(part):
    try:
        name = part.get_filename()
    except Exception:
        name = None
    return name or None


def is_inline_text(part):
    return (part.get_content_type() in SHOWN_TEXT and filename(part) is None
            and part.get_content_disposition() != "attachment")


def resources_used(html, parts):
    used = set()
    if not html:
        return used
    lower = html.lower()
    for part in parts:
        cid = (part.get("content-id") or "").strip().strip("<>").strip()
        location = (part.get("content-location") or "").strip()
        if cid and ("cid:" + cid).lower() in lower:
            used.add(id(part))
        elif location and location.lower() in lower:
            used.add(id(part))
    return used


def view(path):
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f, policy=policy.default)
    plain = message.get_body(("plain",))
    html = message.get_body(("html",))
    html_text = text_of(html)
    leaves = []  # (part, parent content type, index in parent)

    def walk(part, parent, index):
        ctype = part.get_content_type()
        if part.is_multipart() and not ctype.startswith("message/"):
            for i, child in enumerate(part.iter_parts()):
                walk(child, part, i)
        else:
            leaves.append((part, parent, index))

    walk(message, None, 0)
    used = resources_used(html_text, [p for p, _, _ in leaves])
    attachments = []
    for part, parent, index in leaves:
        if part is plain or part is html or id(part) in used:
            continue
        ptype = parent.get_content_type() if parent is not None else ""
        ctype = part.get_content_type()
        named = filename(part) is not None or part.get_content_disposition() == "attachment"
        if ptype == "multipart/alternative" and ctype.startswith("text/") and not named:
            continue
        if ptype == "multipart/signed" and index == 1:
            continue
        if part is message and ctype.startswith("multipart/"):
            continue  # a multipart without parts: nothing a client lists
        if is_inline_text(part) and part is not message and ptype != "multipart/related":
            continue
        entry = {"name": filename(part), "type": ctype}
        if ctype == "message/rfc822":
            inner = part.get_payload(0) if isinstance(part.get_payload(), list) else None
            subject = str(inner["subject"] or "") if inner is not None else ""
            entry["subject"] = subject
            entry["sha256"] = None
        elif ctype.startswith("message/") or ctype.startswith("multipart/"):
            entry["sha256"] = None
        else:
            # The line ends of a 7bit, 8bit or quoted-printable part are the transport's
            # (CR LF in MIME, LF in a file saved on Unix): they do not make other data.
            data = (part.get_payload(decode=True) or b"").replace(b"\r\n", b"\n")
            entry["sha256"] = hashlib.sha256(data).hexdigest()
        attachments.append(entry)
    return {"plain": text_of(plain), "html": html_text, "attachments": attachments}


if __name__ == "__main__":
    out = {}
    for path in sys.argv[1:]:
        try:
            out[path] = view(path)
        except Exception as e:  # a file Python cannot read at all is reported, not skipped
            out[path] = {"error": repr(e)}
    print(json.dumps(out, ensure_ascii=False))
